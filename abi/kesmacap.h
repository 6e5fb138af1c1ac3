/* The capture ABI: the one contract between the viewer and a capture library.
 * Capture libraries for other devices are written against this header, so it
 * stays C and never changes meaning. */
#ifndef KESMACAP_H
#define KESMACAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*kesmacap_fn)(void);

#ifdef _WIN32
/* kesmacap.dll exports the operations by ordinal alone; the table below gives
 * the ordinals. The DLL documents no calling convention: callers must work
 * with __cdecl and __stdcall alike. A library whose results follow the rule
 * below exports kesmacap_abi, returning KESMACAP_ABI_ERRNO_RESULTS; without it
 * results carry no meaning. The event is a Win32 event HANDLE. */
#define KESMACAP_ABI_ERRNO_RESULTS 1
int32_t kesmacap_abi(void);
typedef void* kesmacap_event;
#else
/* Returns the operation with that ordinal, or null where the library has none. */
kesmacap_fn kesmacap_proc(uint16_t ordinal);
/* The event is an eventfd, signalled while its counter is not 0. */
typedef int kesmacap_event;
#endif

enum kesmacap_ordinal {
    KESMACAP_OPEN_CHANNEL = 27,
    KESMACAP_STOP_CHANNEL = 11,
    KESMACAP_SET_CHANNEL_FLAG = 44,
    KESMACAP_CLOSE_CHANNEL = 12,
    KESMACAP_GET_CHANNEL_EVENT = 51,
    KESMACAP_SET_CHANNEL_PIXEL_BYTES = 45,
    KESMACAP_SET_CHANNEL_MODE = 57,
    KESMACAP_GET_CHANNEL_FRAME = 19,
    KESMACAP_START_CHANNEL = 10,
    KESMACAP_QUERY_CHANNEL_STATE = 23,
    KESMACAP_SAVE_CHANNEL_PICTURE = 42
};

/* Every operation takes the channel (0-3) first and returns 0 or an errno value. */
typedef int32_t (*kesmacap_open_channel_fn)(uint16_t channel);
typedef int32_t (*kesmacap_stop_channel_fn)(uint16_t channel);
typedef int32_t (*kesmacap_set_channel_flag_fn)(uint16_t channel, int32_t value);
typedef int32_t (*kesmacap_close_channel_fn)(uint16_t channel);
/* Manual-reset meaning; it stays the same event and stays valid until the
 * library is unloaded, also after CloseChannel. */
typedef int32_t (*kesmacap_get_channel_event_fn)(uint16_t channel, kesmacap_event* event);
typedef int32_t (*kesmacap_set_channel_pixel_bytes_fn)(uint16_t channel, uint8_t bytes);
typedef int32_t (*kesmacap_set_channel_mode_fn)(uint16_t channel, uint8_t mode);
/* Packed rows of width * 3 bytes, top row first, bytes blue, green, red. The
 * pixels stay readable and unchanged until the next call for that channel. */
typedef int32_t (*kesmacap_get_channel_frame_fn)(uint16_t channel, uint8_t** pixels, int32_t* width,
                                                 int32_t* height, int32_t* sequence);
typedef int32_t (*kesmacap_start_channel_fn)(uint16_t channel, int32_t value);
typedef int32_t (*kesmacap_query_channel_state_fn)(uint16_t channel, int32_t* state);
/* Format 0 BMP, 1 JPEG (value = quality 1-100), 2 PNG. "photo.bmp" gives
 * "photo-1.bmp" ... "photo-4.bmp"; a path without extension gets the format's. */
typedef int32_t (*kesmacap_save_channel_picture_fn)(uint16_t channel, const char* path, uint8_t format,
                                                    int32_t value);

enum kesmacap_format { KESMACAP_FORMAT_BMP = 0, KESMACAP_FORMAT_JPEG = 1, KESMACAP_FORMAT_PNG = 2 };

#ifdef __cplusplus
}
#endif

#endif
