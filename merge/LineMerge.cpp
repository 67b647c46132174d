#include "merge/LineMerge.h"

#include "catalog/Catalog.h"
#include "merge/Diff3.h"

#include <algorithm>
#include <vector>

namespace qv::merge {

namespace {

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (size_t at = 0;;) {
        const size_t end = text.find(kRecordLineBreak, at);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(at));
            return lines;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + kRecordLineBreak.size();
    }
}

// "2026-12-08 10:15 UTC" from seconds since 1970.
Bytes utcMinute(int64_t time)
{
    int64_t days = time / 86400, secs = time % 86400;
    if (secs < 0)
        secs += 86400, --days;
    // Civil date from a day count (proleptic Gregorian).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    const auto two = [](int64_t v) { return Bytes(v < 10 ? "0" : "") + decimal(v); };
    return decimal(year) + "-" + two(month) + "-" + two(day) + " " + two(secs / 3600) + ":"
        + two(secs / 60 % 60) + " UTC";
}

// The machine's name as a marker line can carry it: no line break, no
// byte the record file cannot hold.
Bytes machineName(const Bytes &machine)
{
    Bytes name = machine;
    for (char &c : name)
        if (c == '~' || c == '\r' || c == '\n' || c == '\0' || c == '\x1a')
            c = '?';
    return name;
}

Bytes join(const std::vector<std::string_view> &lines, size_t from, size_t to)
{
    Bytes text;
    for (size_t i = from; i < to; ++i) {
        if (i > from)
            text += kRecordLineBreak;
        text += lines[i];
    }
    return text;
}

bool sameLines(const std::vector<std::string_view> &a, size_t a0, size_t a1,
               const std::vector<std::string_view> &b, size_t b0, size_t b1)
{
    return a1 - a0 == b1 - b0 && std::equal(a.begin() + long(a0), a.begin() + long(a1), b.begin() + long(b0));
}

} // namespace

int compareSides(const Side &a, const Side &b)
{
    if (a.time != b.time)
        return a.time < b.time ? -1 : 1;
    const int c = a.machine.compare(b.machine);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

Bytes versionMarker(const Side &side)
{
    return W("<<<<<<< Версия с машины «") + machineName(side.machine) + W("», ") + utcMinute(side.time);
}

Bytes secondVersionMarker(const Side &side)
{
    return W("======= Версия с машины «") + machineName(side.machine) + W("», ") + utcMinute(side.time);
}

Bytes endMarker() { return W(">>>>>>> Конец расхождения"); }

TextMerge mergeText(std::string_view base, std::string_view ours, std::string_view theirs,
                    const Side &ourSide, const Side &theirSide)
{
    if (ours == theirs || base == theirs)
        return {Bytes(ours), 0};
    if (base == ours)
        return {Bytes(theirs), 0};
    const std::vector<std::string_view> b = splitLines(base), o = splitLines(ours), t = splitLines(theirs);
    const Matching mo = matchLines(b, o), mt = matchLines(b, t);
    TextMerge result;
    std::vector<Bytes> out; // pieces, each one or more lines
    diff3(mo, mt, o.size(), t.size(), [&](const Chunk &c) {
        if (c.stable) {
            out.emplace_back(b[c.b0]);
            return;
        }
        const bool oursKept = sameLines(b, c.b0, c.b1, o, c.o0, c.o1);
        const bool theirsKept = sameLines(b, c.b0, c.b1, t, c.t0, c.t1);
        const auto take = [&](const std::vector<std::string_view> &lines, size_t from, size_t to) {
            for (size_t i = from; i < to; ++i)
                out.emplace_back(lines[i]);
        };
        if (oursKept)
            take(t, c.t0, c.t1);
        else if (theirsKept || sameLines(o, c.o0, c.o1, t, c.t0, c.t1))
            take(o, c.o0, c.o1);
        else {
            ++result.conflicts;
            Bytes first = join(o, c.o0, c.o1), second = join(t, c.t0, c.t1);
            size_t firstLines = c.o1 - c.o0, secondLines = c.t1 - c.t0;
            const Side *firstSide = &ourSide, *secondSide = &theirSide;
            int order = compareSides(ourSide, theirSide);
            if (order == 0)
                order = first.compare(second);
            if (order == 0)
                order = firstLines < secondLines ? -1 : 1;
            if (order > 0) {
                std::swap(first, second);
                std::swap(firstLines, secondLines);
                std::swap(firstSide, secondSide);
            }
            out.push_back(versionMarker(*firstSide));
            if (firstLines)
                out.push_back(std::move(first));
            out.push_back(secondVersionMarker(*secondSide));
            if (secondLines)
                out.push_back(std::move(second));
            out.push_back(endMarker());
        }
    });
    for (size_t i = 0; i < out.size(); ++i) {
        if (i)
            result.text += kRecordLineBreak;
        result.text += out[i];
    }
    return result;
}

} // namespace qv::merge
