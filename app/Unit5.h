#pragma once

#include "app/CameraWindow.h"
#include "app/Design.h"

// Shows channel 3.
class TCamera4 final : public CameraWindow {
  public:
    TCamera4() : CameraWindow(QStringLiteral(QUADVIEW_CAMERA4_CAPTION)) {}
};
