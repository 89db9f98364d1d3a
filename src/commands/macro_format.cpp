#include "commands/macro_format.h"

#include "commands/operation_table.h"


namespace lumadrift {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

const char* OperationName(int code)
{
    const OperationRow* row = FindOperation(code);
    return row ? row->name : nullptr;
}

bool HasParameterLine(int code)
{
    const OperationRow* row = FindOperation(code);
    return row && row->parameterLine;
}

std::vector<std::string> SplitWords(const std::string& text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSpace(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !IsSpace(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::string WordValue(const std::string& word)
{
    const size_t eq = word.find('=');
    if (eq == std::string::npos)
        return {};
    std::string value;
    for (size_t i = eq + 1; i < word.size(); ++i)
        if (word[i] != '=')
            value += word[i];
    return value;
}

}  // namespace lumadrift
