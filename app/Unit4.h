#pragma once

#include "app/CameraWindow.h"

// Shows channel 2.
class TCamera3 final : public CameraWindow {
  public:
    TCamera3() : CameraWindow(QStringLiteral("Camera3")) {}
};
