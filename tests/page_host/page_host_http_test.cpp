#include <gtest/gtest.h>

#include "page_host_http.hpp"

namespace tallowmark::page_host {
namespace {

using Kind = ParseOutcome::Kind;

TEST(PageHostRequest, ReadsOneRequestOnlyWhenAllOfItHasArrived) {
    struct Row {
        const char* what;
        std::string data;
        Kind kind;
        std::string method, path, body;
    };
    const std::vector<Row> rows = {
        {"plain GET", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", Kind::complete, "GET", "/", ""},
        {"query dropped", "GET /events?t=1 HTTP/1.1\r\n\r\n", Kind::complete, "GET", "/events", ""},
        {"head not ended", "GET / HTTP/1.1\r\nHost: x\r\n", Kind::incomplete, "", "", ""},
        {"body whole", "POST /call HTTP/1.1\r\ncontent-length: 4\r\n\r\nabcd", Kind::complete, "POST", "/call", "abcd"},
        {"body short", "POST /call HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcd", Kind::incomplete, "", "", ""},
        // A second request on the same connection is not read into the body.
        {"bytes after body", "POST /call HTTP/1.1\r\nContent-Length: 2\r\n\r\nabGET", Kind::complete, "POST", "/call",
         "ab"},
        {"chunked", "POST /call HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Kind::bad, "", "", ""},
        {"length not a number", "POST /call HTTP/1.1\r\nContent-Length: 4x\r\n\r\nabcd", Kind::bad, "", "", ""},
        {"length negative", "POST /call HTTP/1.1\r\nContent-Length: -1\r\n\r\n", Kind::bad, "", "", ""},
        {"two lengths", "POST /call HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", Kind::bad, "", "",
         ""},
        {"length over the limit", "POST /call HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", Kind::bad, "", "",
         ""},
        {"no version", "GET /\r\n\r\n", Kind::bad, "", "", ""},
        {"absolute target", "GET http://a/ HTTP/1.1\r\n\r\n", Kind::bad, "", "", ""},
        {"header without colon", "GET / HTTP/1.1\r\nnonsense\r\n\r\n", Kind::bad, "", "", ""},
        {"endless head", "GET / HTTP/1.1\r\nX: " + std::string(2000, 'a'), Kind::bad, "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ParseOutcome out = parseRequest(row.data, 1024);
        ASSERT_EQ(out.kind, row.kind) << out.error;
        if (row.kind != Kind::complete) continue;
        EXPECT_EQ(out.request.method, row.method);
        EXPECT_EQ(out.request.path, row.path);
        EXPECT_EQ(out.request.body, row.body);
    }
}

TEST(PageHostRequest, ResponseLengthCountsTheBodyBytes) {
    const std::string body = "{\"value\":\"\xc3\xa4\"}";
    const std::string response = httpResponse(200, "application/json", body);
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_TRUE(response.ends_with("\r\n\r\n" + body));
}

TEST(PageHostShim, GoesBeforeThePagesFirstScript) {
    struct Row {
        const char* page;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"<head><script type=\"module\">a</script><script>b</script></head>",
         "<head><script>S</script><script type=\"module\">a</script><script>b</script></head>"},
        {"<head><title>t</title></head><body></body>", "<head><title>t</title><script>S</script></head><body></body>"},
        {"bare", "<script>S</script>bare"},
        // The page's policy lets the shim fetch from this host and evaluate events, nothing more.
        {"<head><meta content=\"default-src 'none'; script-src 'unsafe-inline'; connect-src 'none'\"><script>a</script>",
         "<head><meta content=\"default-src 'none'; script-src 'unsafe-inline' 'unsafe-eval'; connect-src 'self'\">"
         "<script>S</script><script>a</script>"},
    };
    for (const Row& row : rows) EXPECT_EQ(insertShim(row.page, "S"), row.expected) << row.page;
}

TEST(PageHostShim, DefinesOnlyTheBridgesNames) {
    const std::string shim = shimScript({"go", "back"});
    EXPECT_NE(shim.find("[\"go\",\"back\"]"), std::string::npos);
    EXPECT_EQ(shim.find("</script"), std::string::npos);
}

TEST(PageHostCall, TakesANameAndAnArgumentList) {
    struct Row {
        const char* body;
        std::optional<std::string> name;
        Json args;
    };
    const std::vector<Row> rows = {
        {R"({"name":"go","args":[]})", "go", Json::array()},
        {R"({"name":"renderPage","args":[3,2.0]})", "renderPage", Json::array({3, 2.0})},
        {R"({"name":"getState"})", "getState", Json::array()},
        {R"({"name":"go","args":{"a":1}})", std::nullopt, nullptr},
        {R"({"name":"","args":[]})", std::nullopt, nullptr},
        {R"({"name":7})", std::nullopt, nullptr},
        {R"(["go"])", std::nullopt, nullptr},
        {R"({"name":"go")", std::nullopt, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body);
        const auto call = parsePageCall(row.body);
        ASSERT_EQ(call.has_value(), row.name.has_value());
        if (!call) continue;
        EXPECT_EQ(call->name, *row.name);
        EXPECT_EQ(call->args, row.args);
    }
}

TEST(PageHostCall, ReplyIsAValueOrAnErrorAndAlwaysJson) {
    struct Row {
        std::string text;
        std::optional<std::string> error;
        Json expected;
    };
    const std::vector<Row> rows = {
        {R"({"cues":[1]})", std::nullopt, Json{{"value", Json{{"cues", {1}}}}}},
        {"null", std::nullopt, Json{{"value", nullptr}}},
        {"", std::string("ei skriptia"), Json{{"error", "ei skriptia"}}},
        {"{broken", std::nullopt, Json{{"error", "the answer was not JSON"}}},
    };
    for (const Row& row : rows) {
        const auto parsed = parseJson(callReplyBody(row.text, row.error));
        ASSERT_TRUE(parsed) << row.text;
        EXPECT_EQ(*parsed, row.expected) << row.text;
    }
}

TEST(PageHostSettings, KeepsAFileOnlyUnderAnAbsoluteChosenFolder) {
    struct Row {
        const char* configHome;
        std::optional<std::filesystem::path> file;
    };
    const std::vector<Row> rows = {
        {nullptr, std::nullopt},
        {"", std::nullopt},
        {"config", std::nullopt},
        {"./config", std::nullopt},
        {"/tmp/e2e-1/config", std::filesystem::path("/tmp/e2e-1/config/TALLOWMARK/settings.json")},
        {"/", std::filesystem::path("/TALLOWMARK/settings.json")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.configHome ? row.configHome : "(unset)");
        EXPECT_EQ(settingsFileUnder(row.configHome), row.file);
    }
}

}  // namespace
}  // namespace tallowmark::page_host
