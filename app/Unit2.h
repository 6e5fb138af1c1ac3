#pragma once

#include "app/CameraWindow.h"

// Shows channel 0.
class TCamera1 final : public CameraWindow {
  public:
    TCamera1() : CameraWindow(QStringLiteral("Camera1")) {}
};
