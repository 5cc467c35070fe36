#include "Arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace orvane_cli {

Arguments::Arguments(std::string commandName, std::string usageLine, std::string summaryText,
                     std::vector<std::string> positionalWords, std::vector<OptionSpec> optionTable)
    : command(std::move(commandName)), usage(std::move(usageLine)), summary(std::move(summaryText)),
      positionalNames(std::move(positionalWords)), options(std::move(optionTable))
{
}

const OptionSpec* Arguments::Find(const std::string& name) const
{
    for (const OptionSpec& declared : options)
        if (declared.name == name) return &declared;
    return nullptr;
}

bool Arguments::Parse(int argc, char** argv, int first)
{
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' ||
            (word[1] != '-' && word != "-h")) {
            positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h" || word == "--help") {
            std::cout << Help();
            return false;
        }
        if (word == "--version") {
            std::cout << VersionLine();
            return false;
        }
        std::string name = word.substr(2);
        std::string value;
        bool hasInlineValue = false;
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasInlineValue = true;
        }
        const OptionSpec* declared = Find(name);
        if (!declared)
            throw UsageError("unknown option --" + name + " for '" + command + "' (see orvane " +
                             command + " --help)");
        if (declared->valueName.empty()) {
            if (hasInlineValue) throw UsageError("option --" + name + " takes no value");
            value = "1";
        } else if (!hasInlineValue) {
            if (i + 1 >= argc)
                throw UsageError("option --" + name + " needs a value (" + declared->valueName + ")");
            value = argv[++i];
        }
        if (!declared->repeatable && values.count(name))
            throw UsageError("option --" + name + " is given more than once");
        values[name].push_back(value);
    }
    // Words written in brackets, like [FOLDER], may be left out.
    size_t required = 0;
    for (const std::string& p : positionalNames) required += p.empty() || p[0] != '[' ? 1 : 0;
    if (positionals.size() < required) {
        std::string expected;
        for (const std::string& p : positionalNames) expected += (expected.empty() ? "" : " ") + p;
        throw UsageError("'" + command + "' needs " + expected + " (see orvane " + command + " --help)");
    }
    if (positionals.size() > positionalNames.size())
        throw UsageError("unexpected argument '" + positionals[positionalNames.size()] + "' for '" + command +
                         "' (see orvane " + command + " --help)");
    return true;
}

std::string Arguments::Help() const
{
    std::ostringstream text;
    text << "usage: orvane " << usage << "\n\n" << summary << "\n\noptions:\n";
    for (const OptionSpec& declared : options) {
        std::string left = "  --" + declared.name + (declared.valueName.empty() ? "" : " " + declared.valueName);
        if (left.size() < 28)
            left.resize(28, ' ');
        else
            left += "\n" + std::string(28, ' ');
        text << left << declared.help << "\n";
    }
    text << "  --help                    this text\n  --version                 the tool's version\n";
    return text.str();
}

bool Arguments::Has(const std::string& name) const { return values.count(name) != 0; }

std::string Arguments::Text(const std::string& name, const std::string& fallback) const
{
    const auto found = values.find(name);
    return found == values.end() ? fallback : found->second.back();
}

std::vector<std::string> Arguments::Texts(const std::string& name) const
{
    const auto found = values.find(name);
    return found == values.end() ? std::vector<std::string>() : found->second;
}

std::string VersionLine() { return std::string("orvane ") + ORVANE_VERSION + "\n"; }

double ParseNumber(const std::string& text, const std::string& what)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(value))
        throw UsageError(what + " must be a number, not '" + text + "'");
    return value;
}

double Arguments::Number(const std::string& name, double fallback) const
{
    return Has(name) ? ParseNumber(Text(name, ""), "--" + name) : fallback;
}

double Arguments::PositiveNumber(const std::string& name, double fallback) const
{
    const double value = Number(name, fallback);
    if (!(value > 0.0))
        throw UsageError("--" + name + " must be greater than 0, not " + Text(name, std::to_string(value)));
    return value;
}

double Arguments::Length(const std::string& name, double fallback, double maximum) const
{
    // Below a micrometre every coordinate rounds to the same float: a slip, not a print.
    const double value = PositiveNumber(name, fallback, maximum);
    if (value < kShortestLengthMm)
        throw UsageError("--" + name + " must be at least 0.001 mm, not " + Text(name, ""));
    return value;
}

double Arguments::PositiveNumber(const std::string& name, double fallback, double maximum) const
{
    const double value = PositiveNumber(name, fallback);
    if (value > maximum) {
        std::ostringstream limit;
        limit << maximum;
        throw UsageError("--" + name + " must be at most " + limit.str() + ", not " + Text(name, limit.str()));
    }
    return value;
}

int Arguments::Integer(const std::string& name, int fallback, int minimum, int maximum) const
{
    if (!Has(name)) return fallback;
    const std::string text = Text(name, "");
    const double value = ParseNumber(text, "--" + name);
    if (value != std::floor(value))
        throw UsageError("--" + name + " must be a whole number, not '" + text + "'");
    if (value < minimum || value > maximum)
        throw UsageError("--" + name + " must lie between " + std::to_string(minimum) + " and " +
                         std::to_string(maximum) + ", not " + text);
    return static_cast<int>(value);
}

}  // namespace orvane_cli
