#include "page_host_http.hpp"

#include "bridge/bridge_records.hpp"

namespace tallowmark::page_host {

std::string insertShim(std::string_view page, std::string_view shim) {
    std::size_t at = page.find("<script");
    if (at == std::string_view::npos) at = page.find("</head>");
    if (at == std::string_view::npos) at = 0;
    std::string out(page.substr(0, at));
    // The page's policy forbids any network and eval; the shim needs both (its calls are fetches
    // to this host, its event function is made from text), so only those two are opened.
    for (const auto& [from, to] : {std::pair<std::string_view, std::string_view>{"connect-src 'none'", "connect-src 'self'"},
                                   {"script-src 'unsafe-inline'", "script-src 'unsafe-inline' 'unsafe-eval'"}})
        if (const std::size_t found = out.find(from); found != std::string::npos) out.replace(found, from.size(), to);
    return out + "<script>" + std::string(shim) + "</script>" + std::string(page.substr(at));
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
    if (configHome == nullptr || !std::filesystem::path(configHome).is_absolute()) return std::nullopt;
    return std::filesystem::path(configHome) / "TALLOWMARK" / "settings.json";
}

}  // namespace tallowmark::page_host
