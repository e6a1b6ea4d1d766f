#pragma once

#include <future>

#include "core/file_writer.hpp"

namespace tallowmark::testing {

// Holds a writer's thread in one job until opened (at the latest when the gate goes), so whatever
// the test queues meanwhile is certainly waiting.
class WriterGate {
public:
    explicit WriterGate(FileWriter& writer) {
        writer.submit("gate", [open = opened_] { open.wait(); }, FileWriter::Merge::keeps);
    }
    ~WriterGate() { open(); }
    WriterGate(const WriterGate&) = delete;
    WriterGate& operator=(const WriterGate&) = delete;

    void open() {
        if (!isOpen_) promise_.set_value();
        isOpen_ = true;
    }

private:
    std::promise<void> promise_;
    std::shared_future<void> opened_ = promise_.get_future().share();
    bool isOpen_ = false;
};

}  // namespace tallowmark::testing
