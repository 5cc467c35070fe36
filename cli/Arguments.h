// A small command-line parser: long options with values, flags and positional words, each
// option described once so that parsing, checking and --help come from the same table.
#pragma once
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvane_cli {

// A mistake in what the person typed: main prints the message and exits with status 2.
// The shortest length in mm a size option takes.
constexpr double kShortestLengthMm = 0.001;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string name;        // without the leading dashes
    std::string valueName;   // empty for a flag
    std::string help;        // one line; units and defaults belong here
    bool repeatable = false;
};

class Arguments {
public:
    // usage: the synopsis line after "usage: orvane "; positionalNames: the words it expects,
    // optional ones in brackets ("[FOLDER]") and last.
    Arguments(std::string command, std::string usage, std::string summary,
              std::vector<std::string> positionalNames, std::vector<OptionSpec> options);

    // Reads argv[first..argc). Returns false when --help or --version was asked for (the answer
    // is then printed to standard output). Throws UsageError for an unknown option, a missing value
    // or the wrong number of positional words.
    bool Parse(int argc, char** argv, int first);

    std::string Help() const;

    bool Has(const std::string& name) const;
    const std::string& Positional(size_t index) const { return positionals.at(index); }
    size_t PositionalCount() const { return positionals.size(); }
    // The last value given for the option, or fallback when it was not given.
    std::string Text(const std::string& name, const std::string& fallback) const;
    std::vector<std::string> Texts(const std::string& name) const;

    // Numbers the person typed: the whole word must be a finite number.
    double Number(const std::string& name, double fallback) const;
    double PositiveNumber(const std::string& name, double fallback) const;
    // The same, also refusing anything above maximum.
    double PositiveNumber(const std::string& name, double fallback, double maximum) const;
    // A size in mm: a positive number from kShortestLengthMm to maximum.
    double Length(const std::string& name, double fallback, double maximum) const;
    int Integer(const std::string& name, int fallback, int minimum, int maximum) const;

private:
    const OptionSpec* Find(const std::string& name) const;

    std::string command;
    std::string usage;
    std::string summary;
    std::vector<std::string> positionalNames;
    std::vector<OptionSpec> options;
    std::vector<std::string> positionals;
    std::map<std::string, std::vector<std::string>> values;
};

// "orvane VERSION": what --version prints, for the tool and every command alike.
std::string VersionLine();

// Parses a whole word as a finite number; throws UsageError naming what for anything else.
double ParseNumber(const std::string& text, const std::string& what);

}  // namespace orvane_cli
