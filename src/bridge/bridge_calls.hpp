#pragma once

// The rows of the page's calls, one file per domain. Each row reads its
// arguments, does its work through the bridge and answers exactly once, now
// or from work it hands on. For the bridge's own files only.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_arguments.hpp"
#include "bridge/bridge_interfaces.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

class NativeBridge;
class OpenScript;

struct CallRow {
    std::string name;
    std::function<void(NativeBridge&, const BridgeArguments&, ReplyHandle&)> run;
};
using CallRows = std::vector<CallRow>;

// Open, close, draw, search and select in the script (document_calls.cpp).
void addDocumentCalls(CallRows& rows);
// Cues, marks, flags, memos and inserts; page texts and offsets; undo (record_calls.cpp).
void addRecordCalls(CallRows& rows);
// GO, BACK, RESET and the saved run (run_calls.cpp).
void addRunCalls(CallRows& rows);
// Settings, control status and log, the page's menu state and log lines (settings_calls.cpp).
void addSettingsCalls(CallRows& rows);
// Panels, alerts, copies of the script and its marks, the demo, the export (file_calls.cpp).
void addFileCalls(CallRows& rows);
// The window, its title bar and updates (shell_calls.cpp).
void addShellCalls(CallRows& rows);
// The show report and its export (report_calls.cpp).
void addReportCalls(CallRows& rows);
// Follower screens: sharing on and off, its addresses (share_calls.cpp).
void addShareCalls(CallRows& rows);

// Another version's marks (its script, its marks file or a backup of them)
// onto the open script, carried by their words (carry_calls.cpp). Answers
// the state with "carried": how many were placed, changed and left to review.
void bringMarksFrom(NativeBridge& b, const std::filesystem::path& picked, ReplyHandle reply);

// Every row of every domain.
CallRows allCallRows();

// The document dictionary of `info` without "state" (document_calls.cpp).
Json documentDictionary(OpenScript& script, const DocumentStore::Info& info);

// A list whose every element satisfies `isKind`; none when one does not or
// the value is no list, as the page then sent something else entirely.
template <class IsKind>
std::optional<std::vector<Json>> listOf(const Json& value, IsKind isKind) {
    if (!value.is_array()) return std::nullopt;
    if (!std::all_of(value.begin(), value.end(), isKind)) return std::nullopt;
    return std::vector<Json>(value.begin(), value.end());
}

}  // namespace tallowmark
