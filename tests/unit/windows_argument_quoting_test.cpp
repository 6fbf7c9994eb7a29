// The quoting of the desktop program's one argument on a Windows command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/argument_quoting.h"

using platform::win32::quoteCommandLineArgument;

namespace {

// How the Microsoft C runtime (and CommandLineToArgvW) splits the part of a
// command line after the program name: blanks and tabs separate arguments
// outside double quotes; 2n backslashes before a double quote give n
// backslashes and the quote opens or closes a quoted part; 2n+1 give n
// backslashes and a literal quote; other backslashes are literal; inside a
// quoted part, "" gives a literal quote.
std::vector<std::string> splitLikeTheRuntime(const std::string& line) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == n) break;
        std::string argument;
        bool quoted = false;
        while (i < n) {
            char c = line[i];
            if (!quoted && (c == ' ' || c == '\t')) break;
            if (c == '\\') {
                std::size_t count = 0;
                while (i < n && line[i] == '\\') ++count, ++i;
                if (i < n && line[i] == '"') {
                    argument.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(count, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += c;
                ++i;
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

}  // namespace

TEST(WindowsArgumentQuoting, QuotesOnlyWhatNeedsIt) {
    struct Case {
        std::string argument;
        std::string expected;
    } cases[] = {
        {"-w=42", "-w=42"},  // an ordinary user id is passed as it is
        {"-w=", "-w="},
        {"-w=a\\b", "-w=a\\b"},              // backslashes alone are literal
        {"-w=%20+x", "-w=%20+x"},            // undecoded URL text
        {"-w=a b", "\"-w=a b\""},            // blank
        {"-w=a\tb", "\"-w=a\tb\""},          // tab
        {"-w=a\"b", "\"-w=a\\\"b\""},        // quote escaped
        {"-w=a b\\", "\"-w=a b\\\\\""},      // trailing backslash doubled before the closing quote
        {"-w=a\\\"b", "\"-w=a\\\\\\\"b\""},  // backslash before a quote doubled, plus the quote's own
        {"-w=\\\\ x", "\"-w=\\\\ x\""},      // backslashes not before a quote stay single
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quoteCommandLineArgument(c.argument), c.expected) << "argument: [" << c.argument << "]";
    }
}

TEST(WindowsArgumentQuoting, RuntimeGetsBackExactlyOneArgument) {
    // A user id trying to smuggle a second argument in, then every text of up
    // to five characters over the characters the parser treats specially.
    std::vector<std::string> arguments = {"-w=x\" -kill", "-w=x\\\" \"-kill", "-w=\\\\\\\" \\"};
    const char alphabet[] = {'a', ' ', '\t', '"', '\\'};
    std::vector<std::string> level = {""};
    for (int length = 1; length <= 5; ++length) {
        std::vector<std::string> next;
        for (const std::string& prefix : level) {
            for (char c : alphabet) next.push_back(prefix + c);
        }
        arguments.insert(arguments.end(), next.begin(), next.end());
        level = next;
    }
    arguments.push_back("");

    for (const std::string& argument : arguments) {
        std::vector<std::string> parsed = splitLikeTheRuntime(quoteCommandLineArgument(argument));
        ASSERT_EQ(parsed.size(), 1u) << "argument: [" << argument << "]";
        EXPECT_EQ(parsed[0], argument);
    }
}
