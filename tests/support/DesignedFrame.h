// Form1's designed outer rectangle, as the shells read it.
#pragma once

#include <QRect>

#include "app/Design.h"

namespace testing_support {

inline QRect DesignedFrame() {
    return {QUADVIEW_FORM1_LEFT, QUADVIEW_FORM1_TOP, QUADVIEW_FORM1_WIDTH, QUADVIEW_FORM1_HEIGHT};
}

}  // namespace testing_support
