#pragma once

// The coordinate spaces of the script document. A rectangle or point carries
// its space as a tag, so a value of one space cannot be handed where another
// is meant; the conversions between spaces are members, and y is flipped
// nowhere else.

#include <array>
#include <concepts>
#include <optional>
#include <vector>

namespace tallowmark {

namespace space {
// Points in PDF page space: origin at the bottom-left, y up.
struct PagePoints {};
// Fractions (0..1) of a page's display box, origin at the bottom-left, y up:
// the form in which the store computes and keeps its crops.
struct BoxUp {};
// Fractions (0..1) of a page's display box, origin at the top-left, y down: a
// crop as the page draws it and the marks file keeps it.
struct BoxDown {};
// Fractions of the visible box (the display box narrowed by the crop), origin
// at the top-left, y down: what the page receives and where it was clicked.
struct View {};
}  // namespace space

template <class Space>
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    bool hasArea() const { return width > 0 && height > 0; }
    // The outside list form, [x, y, width, height].
    std::array<double, 4> list() const { return {x, y, width, height}; }
    bool operator==(const Rect&) const = default;

    // The same rectangle measured from the top: its top edge becomes y.
    Rect<space::BoxDown> yDown() const
        requires std::same_as<Space, space::BoxUp>
    {
        return {x, 1 - maxY(), width, height};
    }
    // The same rectangle measured from the foot. (1 - y) - height, not
    // 1 - (y + height): the store has always kept manual crops so, and a crop
    // read back from the marks file must land on the same numbers.
    Rect<space::BoxUp> yUp() const
        requires std::same_as<Space, space::BoxDown>
    {
        return {x, 1 - y - height, width, height};
    }
    // This fraction of `box`, in page points: the visible box when `box` is
    // the display box and this the page's crop.
    Rect<space::PagePoints> of(const Rect<space::PagePoints>& box) const
        requires std::same_as<Space, space::BoxUp>
    {
        return {box.x + x * box.width, box.y + y * box.height, width * box.width, height * box.height};
    }
    // As fractions of `box`, y up. The caller makes sure `box` has an area.
    Rect<space::BoxUp> fractionOf(const Rect<space::PagePoints>& box) const
        requires std::same_as<Space, space::PagePoints>
    {
        return {(minX() - box.minX()) / box.width, (minY() - box.minY()) / box.height, width / box.width,
                height / box.height};
    }
    // As fractions of the visible box, y measured down from its top. The
    // caller makes sure the box has an area.
    Rect<space::View> viewOf(const Rect<space::PagePoints>& visible) const
        requires std::same_as<Space, space::PagePoints>
    {
        return {(minX() - visible.minX()) / visible.width, 1 - (maxY() - visible.minY()) / visible.height,
                width / visible.width, height / visible.height};
    }
    // A rectangle of the part of the page that `crop` shows, as fractions of
    // the whole page.
    Rect<space::BoxDown> onPage(const Rect<space::BoxDown>& crop) const
        requires std::same_as<Space, space::View>
    {
        return {crop.x + x * crop.width, crop.y + y * crop.height, width * crop.width, height * crop.height};
    }
};

template <class Space>
struct Point {
    double x = 0;
    double y = 0;

    // The point of the visible box `visible` in page points.
    Point<space::PagePoints> in(const Rect<space::PagePoints>& visible) const
        requires std::same_as<Space, space::View>
    {
        return {visible.minX() + x * visible.width, visible.minY() + (1 - y) * visible.height};
    }
};

using PageRect = Rect<space::PagePoints>;
using PagePoint = Point<space::PagePoints>;
using BoxFraction = Rect<space::BoxUp>;
using PageCrop = Rect<space::BoxDown>;
using ViewFraction = Rect<space::View>;
using ViewPoint = Point<space::View>;

// A crop that may be absent, in the list form of the page and the marks file:
// the empty list is no crop, and so is a list of any length but four.
inline std::optional<PageCrop> cropFromList(const std::vector<double>& list) {
    if (list.size() != 4) return std::nullopt;
    return PageCrop{list[0], list[1], list[2], list[3]};
}
inline std::vector<double> cropList(const std::optional<PageCrop>& crop) {
    if (!crop) return {};
    const std::array<double, 4> list = crop->list();
    return {list.begin(), list.end()};
}

}  // namespace tallowmark
