#pragma once

#include "app/CameraWindow.h"

// Shows channel 1.
class TCamera2 final : public CameraWindow {
  public:
    TCamera2() : CameraWindow(QStringLiteral("Camera2")) {}
};
