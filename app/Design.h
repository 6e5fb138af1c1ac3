/* What both shells say and how they are laid out: the menu's captions and
 * shortcuts, the window names and the designed sizes. Plain macros, so the
 * Win32 resource script reads the same file as the C++ of both shells.
 * Captions are UTF-8. */
#ifndef QUADVIEW_DESIGN_H
#define QUADVIEW_DESIGN_H

#define QUADVIEW_FORM1_CAPTION "Form1"
#define QUADVIEW_CAMERA1_CAPTION "Camera1"
#define QUADVIEW_CAMERA2_CAPTION "Camera2"
#define QUADVIEW_CAMERA3_CAPTION "Camera3"
#define QUADVIEW_CAMERA4_CAPTION "Camera4"

/* The menu: N1, N4 and N7 on the bar, the others under them. */
#define QUADVIEW_N1_CAPTION "操作"
#define QUADVIEW_N2_CAPTION "攝影機拍攝"
#define QUADVIEW_N3_CAPTION "離開程式"
#define QUADVIEW_N4_CAPTION "視窗"
#define QUADVIEW_N5_CAPTION "非重疊"
#define QUADVIEW_N6_CAPTION "重疊"
#define QUADVIEW_N7_CAPTION "圖片"
#define QUADVIEW_N8_CAPTION "儲存"
#define QUADVIEW_N9_CAPTION "瀏覽"
/* Shortcuts as virtual-key codes, without modifiers: F1 and F2. */
#define QUADVIEW_N2_KEY 112
#define QUADVIEW_N3_KEY 113
#define QUADVIEW_N2_KEY_TEXT "F1"
#define QUADVIEW_N3_KEY_TEXT "F2"

/* Form1's outer bounds and a camera window's outer size, in pixels. */
#define QUADVIEW_FORM1_LEFT 239
#define QUADVIEW_FORM1_TOP 125
#define QUADVIEW_FORM1_WIDTH 725
#define QUADVIEW_FORM1_HEIGHT 579
#define QUADVIEW_CAMERA_WIDTH 648
#define QUADVIEW_CAMERA_HEIGHT 480

/* The save dialog's file types, in order (1-based index = format code + 1). */
#define QUADVIEW_TYPE_BMP "Bitmap"
#define QUADVIEW_TYPE_JPEG "JPEG"
#define QUADVIEW_TYPE_PNG "PNG"

/* Menu command identifiers of the resource script. */
#define QUADVIEW_ID_N2 102
#define QUADVIEW_ID_N3 103
#define QUADVIEW_ID_N5 105
#define QUADVIEW_ID_N6 106
#define QUADVIEW_ID_N8 108
#define QUADVIEW_ID_N9 109
#define QUADVIEW_MENU 1
#define QUADVIEW_ACCELERATORS 2
#define QUADVIEW_ICON 1

#endif
