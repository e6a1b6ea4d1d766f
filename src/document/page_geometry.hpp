#pragma once

// The coordinate spaces of the script document, each with its own type so a
// value cannot drift from one space to another without an explicit conversion.

#include <array>
#include <optional>
#include <vector>

namespace tallowmark {

// Page points in PDF page space: origin at the bottom-left, y up.
struct PageRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    bool hasArea() const { return width > 0 && height > 0; }
};

// A point in page points (origin bottom-left, y up).
struct PagePoint {
    double x = 0;
    double y = 0;
};

// Fractions (0..1) of a page's display box, origin bottom-left, y up: the form
// in which the store keeps its crops.
struct BoxFraction {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
};

// Fractions of the visible box with the origin at the top-left, y down: what
// the page receives.
struct ViewFraction {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    std::array<double, 4> list() const { return {x, y, width, height}; }
};

// A point in fractions of the visible box, origin top-left, y down: where the
// page was clicked.
struct ViewPoint {
    double x = 0;
    double y = 0;
};

// Fractions (0..1) of a page's whole display box, origin top-left, y down: a
// crop as the page draws it and the marks file keeps it.
struct PageCrop {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The marks file's and the page's list form of a crop, [x, y, width, height];
// an empty list is no crop. A list of any other length is no crop either.
inline std::optional<PageCrop> cropFromList(const std::vector<double>& list) {
    if (list.size() != 4) return std::nullopt;
    return PageCrop{list[0], list[1], list[2], list[3]};
}
inline std::vector<double> cropList(const std::optional<PageCrop>& crop) {
    if (!crop) return {};
    return {crop->x, crop->y, crop->width, crop->height};
}

// The display box narrowed by the page's crop, when one is in force.
inline PageRect visibleBox(const PageRect& display, const std::optional<BoxFraction>& crop) {
    if (!crop) return display;
    return {display.x + crop->x * display.width, display.y + crop->y * display.height,
            crop->width * display.width, crop->height * display.height};
}

// A rectangle in page points as fractions of the visible box, y measured down
// from its top. The caller makes sure the box has an area.
inline ViewFraction toViewFraction(const PageRect& rect, const PageRect& visible) {
    return {(rect.minX() - visible.minX()) / visible.width,
            1 - (rect.maxY() - visible.minY()) / visible.height, rect.width / visible.width,
            rect.height / visible.height};
}

// A rectangle in page points as fractions of the display box (origin bottom-left).
inline BoxFraction toBoxFraction(const PageRect& rect, const PageRect& box) {
    return {(rect.minX() - box.minX()) / box.width, (rect.minY() - box.minY()) / box.height,
            rect.width / box.width, rect.height / box.height};
}

}  // namespace tallowmark
