#pragma once

#include "app/CameraWindow.h"

// Shows channel 3.
class TCamera4 final : public CameraWindow {
  public:
    TCamera4() : CameraWindow(QStringLiteral("Camera4")) {}
};
