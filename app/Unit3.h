#pragma once

#include "app/CameraWindow.h"
#include "app/Design.h"

// Shows channel 1.
class TCamera2 final : public CameraWindow {
  public:
    TCamera2() : CameraWindow(QStringLiteral(QUADVIEW_CAMERA2_CAPTION)) {}
};
