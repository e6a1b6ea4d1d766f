#include <gtest/gtest.h>

#include "page_host_http.hpp"

namespace tallowmark::page_host {
namespace {

TEST(PageHostShim, GoesBeforeThePagesFirstScriptAndDefinesOnlyTheBridgesNames) {
    const std::pair<const char*, const char*> rows[] = {
        {"<head><script type=\"module\">a</script><script>b</script></head>",
         "<head><script>S</script><script type=\"module\">a</script><script>b</script></head>"},
        {"<head><title>t</title></head><body></body>", "<head><title>t</title><script>S</script></head><body></body>"},
        {"bare", "<script>S</script>bare"},
        // The page's policy lets the shim fetch from this host and evaluate events, nothing more.
        {"<head><meta content=\"default-src 'none'; script-src 'unsafe-inline'; connect-src 'none'\"><script>a</script>",
         "<head><meta content=\"default-src 'none'; script-src 'unsafe-inline' 'unsafe-eval'; connect-src 'self'\">"
         "<script>S</script><script>a</script>"},
    };
    for (const auto& [page, expected] : rows) EXPECT_EQ(insertShim(page, "S"), expected) << page;

    const std::string shim = shimScript({"go", "back"});
    EXPECT_NE(shim.find("[\"go\",\"back\"]"), std::string::npos);
    EXPECT_EQ(shim.find("</script"), std::string::npos);
}

TEST(PageHostCall, TakesANameAndAnArgumentListAndAlwaysRepliesInJson) {
    // The call read, as its name and arguments; "refused" when it is no call.
    const std::pair<const char*, const char*> calls[] = {
        {R"({"name":"go","args":[]})", "go []"}, {R"({"name":"renderPage","args":[3,2.0]})", "renderPage [3,2.0]"},
        {R"({"name":"getState"})", "getState []"}, {R"({"name":"go","args":{"a":1}})", "refused"},
        {R"({"name":"","args":[]})", "refused"}, {R"({"name":7})", "refused"}, {R"(["go"])", "refused"},
        {R"({"name":"go")", "refused"},
    };
    for (const auto& [body, expected] : calls) {
        const auto call = parsePageCall(body);
        EXPECT_EQ(call ? call->name + " " + call->args.dump() : "refused", expected) << body;
    }

    const std::tuple<std::string, std::optional<std::string>, const char*> replies[] = {
        {R"({"cues":[1]})", std::nullopt, R"({"value":{"cues":[1]}})"},
        {"null", std::nullopt, R"({"value":null})"},
        {"", std::string("ei skriptia"), R"({"error":"ei skriptia"})"},
        {"{broken", std::nullopt, R"({"error":"the answer was not JSON"})"},
    };
    for (const auto& [text, error, expected] : replies)
        EXPECT_EQ(parseJson(callReplyBody(text, error)), parseJson(expected)) << text;
}

TEST(PageHostSettings, KeepsAFileOnlyUnderAnAbsoluteChosenFolder) {
    const std::pair<const char*, std::optional<std::filesystem::path>> rows[] = {
        {nullptr, std::nullopt}, {"", std::nullopt}, {"config", std::nullopt}, {"./config", std::nullopt},
        {"/tmp/e2e-1/config", "/tmp/e2e-1/config/TALLOWMARK/settings.json"}, {"/", "/TALLOWMARK/settings.json"},
    };
    for (const auto& [configHome, file] : rows)
        EXPECT_EQ(settingsFileUnder(configHome), file) << (configHome ? configHome : "(unset)");
}

}  // namespace
}  // namespace tallowmark::page_host
