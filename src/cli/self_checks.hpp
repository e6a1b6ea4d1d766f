#pragma once

// The self-checks a technician runs at the venue: each exercises a real path of
// the program (the OSC server, the MIDI input, the run file, the title bar, the
// export, the update rules) and prints one Finnish line per check. The status
// is 0 only when every check passed.

#include <cstdio>
#include <string>

namespace tallowmark {

// The lines every self-check prints, and the status they add up to.
class CheckReport {
public:
    explicit CheckReport(std::FILE* out) : out_(out) {}

    // "OK - what" or "VIRHE - what: why"; true when it passed.
    bool check(bool passed, const std::string& what, const std::string& why = {}) {
        ++checks_;
        if (passed) {
            std::fprintf(out_, "OK - %s\n", what.c_str());
        } else {
            ++failures_;
            std::fprintf(out_, "VIRHE - %s%s%s\n", what.c_str(), why.empty() ? "" : ": ", why.c_str());
        }
        return passed;
    }
    // A line that is neither pass nor fail: what the technician should know.
    void note(const std::string& text) { std::fprintf(out_, "HUOM - %s\n", text.c_str()); }
    void info(const std::string& text) { std::fprintf(out_, "%s\n", text.c_str()); }

    // The closing line; 0 when every check passed, and at least one ran.
    int finish() {
        if (checks_ > 0 && failures_ == 0) {
            std::fprintf(out_, "kaikki %d tarkistusta onnistuivat\n", checks_);
            return 0;
        }
        std::fprintf(out_, "%d/%d tarkistusta epaonnistui\n", checks_ == 0 ? 1 : failures_, checks_ == 0 ? 1 : checks_);
        return 1;
    }

private:
    std::FILE* out_;
    int checks_ = 0;
    int failures_ = 0;
};

// The demo script and its marks written into a fresh temporary folder, which
// goes with everything in it: a check runs the show on this copy, never on the
// operator's own files. Defined with the control checks.
class ScratchDemo {
public:
    ScratchDemo();
    ~ScratchDemo();
    ScratchDemo(const ScratchDemo&) = delete;
    ScratchDemo& operator=(const ScratchDemo&) = delete;

    // Empty when the copy could not be made; error() then says why.
    const std::string& pdf() const { return pdf_; }
    const std::string& error() const { return error_; }

private:
    std::string folder_;
    std::string pdf_;
    std::string error_;
};

int oscSelfCheck(std::FILE* out);        // "--osc-test"
int mscSelfCheck(std::FILE* out);        // "--msc-test"
int resumeSelfCheck(std::FILE* out);     // "--resume-test"
int titleBarSelfCheck(std::FILE* out);   // "--titlebar-probe"
int exportSelfCheck(std::FILE* out);     // "--export-test"
int updateSelfCheck(std::FILE* out);     // "--update-probe"

}  // namespace tallowmark
