#pragma once

#include "app/CameraWindow.h"
#include "app/Design.h"

// Shows channel 0.
class TCamera1 final : public CameraWindow {
  public:
    TCamera1() : CameraWindow(QStringLiteral(QUADVIEW_CAMERA1_CAPTION)) {}
};
