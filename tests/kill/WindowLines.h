// What the window programs driven by tests print: one flushed line at a
// time, texts in UTF-8 with "\\", "\n", "\r" and "\t" escaped.
#pragma once

#include <QString>

#include <cstdio>
#include <string>

namespace killtest {

inline std::string escaped(const QString &text)
{
    std::string out;
    for (char c : text.toStdString()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

inline void say(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace killtest
