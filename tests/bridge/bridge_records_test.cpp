#include "bridge/bridge_records.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tallowmark {
namespace {

// One key of a record with every field set given a value of another type: the
// marks file refuses the whole record, the page's copy loses only that key (to
// its default, or a new id). Either way every other key survives. A fraction
// where an integer belongs, a NaN, and an empty id count as wrong types too.
template <class R, class Decode>
void checkEachKeyAlone(const R& full, Decode decodeLoose) {
    const Json written = toJson(full);
    R strict = full;
    ASSERT_TRUE(readValue(written, strict));
    EXPECT_EQ(strict, full) << "every field goes to the file and back";
    EXPECT_EQ(decodeLoose(written), full) << "every field goes to the page and back";

    Json defaults = toJson(R{});
    for (const auto& [key, value] : written.items()) {
        SCOPED_TRACE(key);
        Json damaged = written;
        damaged[key] = true;
        R into = full;
        EXPECT_FALSE(readValue(damaged, into));

        std::vector<Json> wrong = {true};
        if (value.is_number_integer()) wrong.push_back(1.5);
        if (value.is_number_float()) wrong.insert(wrong.end(), {Json(std::nan("")), Json("left")});
        if (value.is_string()) wrong.push_back(7);
        if (key == "id") wrong.push_back("");
        for (const Json& bad : wrong) {
            damaged[key] = bad;
            Json loose = toJson(decodeLoose(damaged));
            EXPECT_NE(loose[key], value) << bad;
            if (key == "id") {
                EXPECT_EQ(loose[key].template get<std::string>().size(), 36u);
                EXPECT_NE(loose[key], toJson(decodeLoose(damaged))[key]) << "each fresh id is new";
            } else {
                EXPECT_EQ(loose[key], defaults[key]) << bad;
            }
            loose[key] = value;
            EXPECT_EQ(loose, written) << bad;
        }
    }

    // Not a dictionary at all: a record of defaults with a fresh id, not a throw.
    for (const Json& notDict : {Json(nullptr), Json::array({1, 2})}) {
        Json loose = toJson(decodeLoose(notDict));
        EXPECT_EQ(loose["id"].template get<std::string>().size(), 36u);
        loose["id"] = defaults["id"];
        EXPECT_EQ(loose, defaults) << notDict;
    }
}

TEST(BridgeRecords, EveryFieldOfEveryRecordIsReadAndWrittenUnderItsKey) {
    checkEachKeyAlone(Cue{.id = "C1", .number = "12", .label = "Valot", .kind = "LX", .page = 3, .x = 0.25,
                          .y = 0.75, .w = 0.125, .h = 0.0625, .labelX = 0.5, .color = "#112233", .snippet = "ovi",
                          .note = "hidas", .padL = 0.01, .padR = 0.02, .insertID = "I1"},
                      decodeCue);
    checkEachKeyAlone(Mark{.id = "M1", .page = 1, .x = 0.125, .y = 0.25, .w = 0.375, .h = 0.5, .kind = "underline",
                           .text = "t", .color = "#445566", .group = "g"},
                      decodeMark);
    checkEachKeyAlone(
        Flag{.id = "F1", .page = 2, .x = 0.75, .y = 0.875, .text = "ovelle", .color = "red", .role = "actor"},
        decodeFlag);
    checkEachKeyAlone(Memo{.id = "N1", .page = 4, .x = 0.5, .y = 0.25, .w = 0.25, .h = 0.125, .text = "muista",
                           .color = "yellow"},
                      decodeMemo);
    checkEachKeyAlone(Insert{.id = "I1", .page = 3, .afterY = 0.5, .lineMidY = 0.53125, .lineH = 0.03125,
                             .x = 0.0625, .text = "lisatty"},
                      decodeInsert);
}

TEST(BridgeRecords, MenuStateIsReadWholeWithItsOwnDefaults) {
    Settings settings;
    settings.themeName = "light";
    settings.pagesPerSpread = 1;
    settings.memosVisible = false;
    EXPECT_EQ(initialMenuState(settings).pagesPerSpread, 1);
    EXPECT_FALSE(initialMenuState(settings).memosVisible);

    const MenuState empty = readMenuState(Json::object(), settings);
    EXPECT_TRUE(empty.memosVisible && empty.sidebarVisible);
    EXPECT_EQ(empty.pagesPerSpread, 2);
    EXPECT_EQ(empty.theme, "light");
    const MenuState given = readMenuState({{"hasDoc", true}, {"cueMode", "yes"}, {"spreadOffset", 1}}, settings);
    EXPECT_TRUE(given.hasDoc && !given.cueMode);
    EXPECT_EQ(given.spreadOffset, 1);
}

}  // namespace
}  // namespace tallowmark
