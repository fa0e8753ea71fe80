#pragma once
// A prompter that records every message and question and answers the questions from a
// script (Yes when the script has run out).

#include <deque>
#include <string>
#include <vector>

#include "tools/prompter.h"

namespace tarrowin::testing {

class RecordingPrompter : public Prompter {
   public:
    std::vector<Message> messages;
    std::vector<Message> questions;
    std::deque<bool> answers;

    void message(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    bool ask(const std::string& text, const std::string& caption) override {
        questions.push_back({text, caption, MessageIcon::Question});
        if (answers.empty()) return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void answer(bool yes) { answers.push_back(yes); }
};

}  // namespace tarrowin::testing
