#pragma once

#include "app/CameraWindow.h"
#include "app/Design.h"

// Shows channel 2.
class TCamera3 final : public CameraWindow {
  public:
    TCamera3() : CameraWindow(QStringLiteral(QUADVIEW_CAMERA3_CAPTION)) {}
};
