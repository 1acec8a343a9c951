#pragma once

#include <string>

#include <CLI/CLI.hpp>

// Help in the layout of the project's programs: the description, then one block per option
// with its value's name, the text aligned in one column and continued under itself, then the
// footer. Options are listed in the order they were added.
class HelpLayout : public CLI::FormatterBase {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    constexpr std::size_t COLUMN = 26;
    std::string text = app->get_description() + "\nOptions:\n";
    for (const CLI::Option* option : app->get_options()) {
      std::string head = "  " + option->get_name();
      if (!option->get_type_name().empty()) head += " " + option->get_type_name();
      head += head.size() + 1 < COLUMN ? std::string(COLUMN - head.size(), ' ') : "\n" + std::string(COLUMN, ' ');
      const std::string& description = option->get_description();
      for (std::size_t start = 0; start < description.size();) {
        const std::size_t end = std::min(description.find('\n', start), description.size());
        text += (start == 0 ? head : std::string(COLUMN, ' ')) + description.substr(start, end - start) + "\n";
        start = end + 1;
      }
    }
    return text + app->get_footer();
  }
};
