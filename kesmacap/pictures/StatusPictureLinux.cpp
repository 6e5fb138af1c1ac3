#include "kesmacap/pictures/StatusPicture.h"

#include <pango/pangocairo.h>

#include <memory>
#include <mutex>
#include <string>

#include "kesmacap/pictures/Picture.h"

namespace kesmacap {

namespace {

constexpr double Background[] = {0x10 / 255.0, 0x18 / 255.0, 0x20 / 255.0};
constexpr double Band[] = {0x2A / 255.0, 0x34 / 255.0, 0x42 / 255.0};
constexpr double Title[] = {1.0, 1.0, 1.0};
constexpr double Reason[] = {1.0, 0xC6 / 255.0, 0x40 / 255.0};
constexpr double Detail[] = {0xB8 / 255.0, 0xC2 / 255.0, 0xCC / 255.0};
constexpr int Margin = 12;
// A tiled camera window shows about this much of the picture's top left: what
// matters is said there, and the rest goes on below.
constexpr int TileWidth = 340;

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* object) const { Free(object); }
};
using Surface = std::unique_ptr<cairo_surface_t, Freer<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Freer<cairo_t, cairo_destroy>>;
void unrefObject(PangoLayout* layout) {
    g_object_unref(layout);
}
using Layout = std::unique_ptr<PangoLayout, Freer<PangoLayout, unrefObject>>;
void freeDescription(PangoFontDescription* description) {
    pango_font_description_free(description);
}
using Font = std::unique_ptr<PangoFontDescription, Freer<PangoFontDescription, freeDescription>>;

// One font map for the process, used under the drawing lock only: Pango's
// default is one per thread, set up again (fontconfig and all) in each.
PangoFontMap* fontMap() {
    static PangoFontMap* const map = pango_cairo_font_map_new();
    return map;
}

// Writes text in the font, wrapped to `width` pixels; returns the y below it.
int drawText(cairo_t* cairo, int y, const char* font, std::string_view text, const double (&rgb)[3],
             int width = TileWidth - 2 * Margin) {
    PangoContext* const context = pango_font_map_create_context(fontMap());
    pango_cairo_update_context(cairo, context);
    const Layout layout(pango_layout_new(context));
    g_object_unref(context);
    const Font description(pango_font_description_from_string(font));
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_width(layout.get(), width * PANGO_SCALE);
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    // Pango takes UTF-8 only; anything else shows as replacement marks, never as a crash.
    const std::string valid(text);
    gchar* const checked = g_utf8_make_valid(valid.c_str(), static_cast<gssize>(valid.size()));
    pango_layout_set_text(layout.get(), checked, -1);
    g_free(checked);
    cairo_set_source_rgb(cairo, rgb[0], rgb[1], rgb[2]);
    cairo_move_to(cairo, Margin, y);
    pango_cairo_show_layout(cairo, layout.get());
    int height = 0;
    pango_layout_get_pixel_size(layout.get(), nullptr, &height);
    return y + height;
}

}  // namespace

void DrawStatusPicture(std::uint8_t* pixels, int channel, std::string_view reason, std::string_view source) {
    // Fontconfig and the font map are set up once and shared: one picture at a time.
    static std::mutex drawing;
    const std::lock_guard lock(drawing);
    const Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, MaxWidth, MaxHeight));
    const Context cairo(cairo_create(surface.get()));
    cairo_set_source_rgb(cairo.get(), Background[0], Background[1], Background[2]);
    cairo_paint(cairo.get());
    drawText(cairo.get(), 8, "Sans Bold 24px", "Camera" + std::to_string(channel + 1), Title, MaxWidth);
    cairo_set_source_rgb(cairo.get(), Band[0], Band[1], Band[2]);
    cairo_rectangle(cairo.get(), 0, 52, MaxWidth, 2);
    cairo_fill(cairo.get());
    const int below = drawText(cairo.get(), 64, "Sans 17px", reason, Reason);
    drawText(cairo.get(), below + 8, "Monospace 11px", source, Detail);
    cairo_surface_flush(surface.get());
    // Cairo's RGB24 is one 0x00RRGGBB word per pixel: B, G, R, X in memory here.
    const unsigned char* const from = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < MaxHeight; ++y) {
        const auto* const word =
            reinterpret_cast<const std::uint32_t*>(from + static_cast<std::ptrdiff_t>(y) * stride);
        std::uint8_t* to = pixels + static_cast<std::size_t>(y) * MaxWidth * BytesPerPixel;
        for (int x = 0; x < MaxWidth; ++x, to += BytesPerPixel) {
            to[0] = static_cast<std::uint8_t>(word[x]);
            to[1] = static_cast<std::uint8_t>(word[x] >> 8);
            to[2] = static_cast<std::uint8_t>(word[x] >> 16);
        }
    }
}

}  // namespace kesmacap
