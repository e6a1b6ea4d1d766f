#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::testing {

class StoreTest : public ::testing::Test {
protected:
    std::filesystem::path pdf(const std::string& name, const std::vector<FixturePage>& pages) {
        writePdf(dir / name, pages);
        return dir / name;
    }
    // Writes and opens a script whose first page frames the points `at` is given.
    std::filesystem::path openPages(const std::vector<FixturePage>& pages, const std::string& name = "script.pdf") {
        const auto path = pdf(name, pages);
        EXPECT_TRUE(store.open(path));
        crop = store.pageCrop(0).value_or(PageCrop{0, 0, 1, 1});
        width = pages.at(0).width;
        height = pages.at(0).height;
        return path;
    }
    // A point in page points from the top-left, as the page sends it.
    ViewPoint at(double x, double top) const {
        return {(x / width - crop.x) / crop.width, (top / height - crop.y) / crop.height};
    }
    std::vector<PageCrop> crops(int pageCount) const {
        std::vector<PageCrop> result;
        for (int i = 0; i < pageCount; ++i)
            if (auto c = store.pageCrop(i)) result.push_back(*c);
        return result;
    }

    TempDir dir;
    DocumentStore store;
    PageCrop crop{0, 0, 1, 1};
    double width = 300, height = 400;
};

inline void expectNear(const std::array<double, 4>& actual, const std::array<double, 4>& expected, double tolerance) {
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(actual[k], expected[k], tolerance) << "[" << k << "]";
}

}  // namespace tallowmark::testing
