#pragma once
// The messages and Yes/No questions of the composition tools. The tools never show a box
// themselves: they hand the text, caption and icon to a Prompter, which the window shows as
// a message box and the command line prints; tests answer with a recorder.

#include <optional>
#include <string>
#include <utility>

namespace tarrowin {

inline constexpr const char* kAppCaption = "Tarrowin";
inline constexpr const char* kErrorCaption = "Error";

enum class MessageIcon { Exclamation, Question, Information, Stop };

// One message box: what a check refuses with.
struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Exclamation;

    bool operator==(const Message&) const = default;
};

// An input error in the tools' usual form: caption "Error", exclamation icon.
inline Message errorMessage(std::string text) { return {std::move(text), kErrorCaption, MessageIcon::Exclamation}; }

class Prompter {
   public:
    virtual ~Prompter() = default;
    // A message box with an OK button.
    virtual void message(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    // A question with Yes and No buttons and the question icon; true for Yes.
    virtual bool ask(const std::string& text, const std::string& caption) = 0;

    void show(const Message& m) { message(m.text, m.caption, m.icon); }
    // Shows m when there is one; true when a message was shown (the action was refused).
    bool refused(const std::optional<Message>& m) {
        if (m) show(*m);
        return m.has_value();
    }
};

}  // namespace tarrowin
