// The Linux objects behind HDC and HBITMAP (HGDIOBJ). Only the platform layer
// and its tests look inside them; the live view sees opaque handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Win32.h"

// A 24-bit BI_RGB device-independent bitmap. Rows are padded to 4 bytes as
// Windows pads them; a positive height in the header means bottom-up rows.
class DibSection final {
  public:
    DibSection(int width, int height, bool topDown);

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t stride() const { return stride_; }
    BYTE* bits() { return bits_.get(); }
    const BYTE* bits() const { return bits_.get(); }
    // Start of image row y, 0 being the top row whatever the row order in memory.
    const BYTE* row(int y) const;

    DeviceContext* selectedInto = nullptr;

    static std::size_t strideFor(int width) { return ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4; }

  private:
    int width_;
    int height_;
    bool topDown_;
    std::size_t stride_;
    std::unique_ptr<BYTE[]> bits_;
};

class DeviceContext {
  public:
    virtual ~DeviceContext() = default;
};

// A context on a window, from GetDC.
class WindowDeviceContext final : public DeviceContext {
  public:
    explicit WindowDeviceContext(DrawableWindow& window) : window(window) {}
    DrawableWindow& window;
};

// A memory context, from CreateCompatibleDC; draws from the bitmap selected into it.
class MemoryDeviceContext final : public DeviceContext {
  public:
    ~MemoryDeviceContext() override;
    DibSection* bitmap = nullptr;
};
