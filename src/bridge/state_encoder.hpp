#pragma once

// The state snapshot as JSON text, for the "cueState" event and the replies of
// the calls that run the show. A GO changes only the run fields; the cue list
// and the marks are the bulk of the text and change only on edits, so their
// text is kept and reused until they change. The text always equals the
// compact encoding of stateDictionary().

#include <map>
#include <string>
#include <vector>

#include "bridge/bridge_records.hpp"

namespace tallowmark {

class StateEncoder {
public:
    // None when a value has no JSON form (a real that is not finite).
    std::optional<std::string> encode(const CueEngine& engine);

private:
    template <class T>
    struct CachedList {
        std::vector<T> source;
        std::string text;
        bool finite = true;
        bool valid = false;
        const std::string& update(const std::vector<T>& items);
    };

    CachedList<Cue> cues_;
    CachedList<Mark> marks_;
    CachedList<Flag> flags_;
    CachedList<Memo> memos_;
    CachedList<Insert> inserts_;
    std::map<std::string, std::string> pageTextsSource_;
    std::string pageTextsText_;
    bool pageTextsValid_ = false;
};

}  // namespace tallowmark
