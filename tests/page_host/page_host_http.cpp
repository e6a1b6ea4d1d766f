#include "page_host_http.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "bridge/bridge_records.hpp"

namespace tallowmark::page_host {

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

ParseOutcome bad(std::string error) {
    ParseOutcome out;
    out.kind = ParseOutcome::Kind::bad;
    out.error = std::move(error);
    return out;
}

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Content Too Large";
        default: return "Error";
    }
}

}  // namespace

ParseOutcome parseRequest(std::string_view data, std::size_t maxBytes) {
    const std::size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        if (data.size() > maxBytes) return bad("request head too large");
        return {};
    }
    std::string_view head = data.substr(0, headEnd);
    const std::size_t lineEnd = std::min(head.find("\r\n"), head.size());
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1 || !requestLine.substr(sp2 + 1).starts_with("HTTP/1."))
        return bad("malformed request line");

    ParseOutcome out;
    out.request.method = std::string(requestLine.substr(0, sp1));
    std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    target = target.substr(0, target.find('?'));
    if (!target.starts_with('/')) return bad("target is not a path");
    out.request.path = std::string(target);

    std::optional<std::size_t> length;
    std::string_view rest = lineEnd < head.size() ? head.substr(lineEnd + 2) : std::string_view{};
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find("\r\n"), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest = end < rest.size() ? rest.substr(end + 2) : std::string_view{};
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return bad("malformed header");
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameLetters(name, "Transfer-Encoding")) return bad("chunked bodies are not taken");
        if (sameLetters(name, "Content-Length")) {
            std::size_t n = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc{} || ptr != value.data() + value.size() || value.empty())
                return bad("malformed Content-Length");
            if (length && *length != n) return bad("conflicting Content-Length");
            length = n;
        }
    }
    const std::size_t bodyStart = headEnd + 4;
    const std::size_t bodyLength = length.value_or(0);
    if (bodyLength > maxBytes || bodyStart + bodyLength > maxBytes) return bad("request too large");
    if (data.size() < bodyStart + bodyLength) return {};
    out.request.body = std::string(data.substr(bodyStart, bodyLength));
    out.kind = ParseOutcome::Kind::complete;
    return out;
}

std::string httpResponse(int status, std::string_view contentType, std::string_view body) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    out += "Content-Type: ";
    out += contentType;
    out += "\r\nContent-Length: " + std::to_string(body.size());
    out += "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    out += body;
    return out;
}

namespace {

// The page's policy forbids any network and eval; the shim needs both (its
// calls are fetches to this host, its event function is made from text), so only those
// two are opened here, and everything else the policy says still holds.
void replaceFirst(std::string& text, std::string_view from, std::string_view to) {
    if (const std::size_t at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
}

}  // namespace

std::string insertShim(std::string_view page, std::string_view shim) {
    const std::string tag = "<script>" + std::string(shim) + "</script>";
    std::size_t at = page.find("<script");
    if (at == std::string_view::npos) at = page.find("</head>");
    if (at == std::string_view::npos) at = 0;
    std::string out(page.substr(0, at));
    replaceFirst(out, "connect-src 'none'", "connect-src 'self'");
    replaceFirst(out, "script-src 'unsafe-inline'", "script-src 'unsafe-inline' 'unsafe-eval'");
    out += tag;
    out += page.substr(at);
    return out;
}

std::optional<PageCall> parsePageCall(std::string_view body) {
    const std::optional<Json> json = parseJson(body);
    if (!json || !json->is_object()) return std::nullopt;
    const auto name = json->find("name");
    if (name == json->end() || !name->is_string() || name->get_ref<const std::string&>().empty()) return std::nullopt;
    PageCall call{name->get<std::string>(), Json::array()};
    if (const auto args = json->find("args"); args != json->end()) {
        if (!args->is_array()) return std::nullopt;
        call.args = *args;
    }
    return call;
}

std::string callReplyBody(const std::string& jsonText, const std::optional<std::string>& error) {
    if (error) return dumpJson(Json{{"error", *error}}, -1);
    if (!parseJson(jsonText)) return dumpJson(Json{{"error", "the answer was not JSON"}}, -1);
    return "{\"value\":" + jsonText + "}";
}

std::string shimScript(const std::vector<std::string>& callNames) {
    return "(function(){\n"
           "  var names = " + dumpJson(Json(callNames), -1) + ";\n"
           "  function call(name, args) {\n"
           "    return fetch('/call', {method: 'POST', headers: {'Content-Type': 'application/json'},\n"
           "                           body: JSON.stringify({name: name, args: args === undefined ? [] : args})})\n"
           "      .then(function (r) { return r.json(); })\n"
           "      .then(function (a) { if (a && typeof a.error === 'string') throw a.error; return a ? a.value : null; });\n"
           "  }\n"
           "  var handlers = {};\n"
           "  names.forEach(function (n) { handlers[n] = {postMessage: function (args) { return call(n, args); }}; });\n"
           "  window.webkit = {messageHandlers: new Proxy(handlers, {get: function (t, k) { return t[k]; }})};\n"
           "  var deliver = new Function('batch', " + dumpJson(Json(BridgeEvents::hookBody), -1) + ");\n"
           "  function poll() {\n"
           "    fetch('/events').then(function (r) { return r.json(); }).then(function (batches) {\n"
           "      batches.forEach(function (b) { try { deliver(b); } catch (e) { console.error(e); } });\n"
           "      poll();\n"
           "    }, function () { setTimeout(poll, 250); });\n"
           "  }\n"
           "  poll();\n"
           "})();";
}

std::optional<std::filesystem::path> settingsFileUnder(const char* configHome) {
    if (configHome == nullptr || configHome[0] == '\0') return std::nullopt;
    const std::filesystem::path home(configHome);
    if (!home.is_absolute()) return std::nullopt;
    return home / "TALLOWMARK" / "settings.json";
}

}  // namespace tallowmark::page_host
