// The line view as one HTML page. Everything is inline (CSS in a style
// element, charts as SVG), and the Content-Security-Policy forbids every
// fetch, so the page shows the same on an offline PC as on the line, and a
// hostile station name or failure message can only ever be text: every
// value from the registry goes through Escape.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

#include "registry_tool/pools.h"
#include "registry_tool/view.h"

namespace {

constexpr int kTopReasons = 10;        // the Pareto's bars; the rest are one "other" row
constexpr long kDayBucketsAfter = 3;   // days of period after which buckets are days
constexpr double kChartWidth = 640;
constexpr double kChartHeight = 120;

void Appendf(std::string *out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string *out, const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof buf) {
        out->append(buf, n);
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(ap, fmt);
    vsnprintf(&big[0], big.size(), fmt, ap);
    va_end(ap);
    out->append(big.c_str(), n);
}

std::string Escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // Control characters would be invalid in the page; a blank shows where one was.
            out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
        }
    }
    return out;
}

time_t ParseUtc(const std::string &stamp)
{
    struct tm t = {};
    if (sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
               &t.tm_hour, &t.tm_min, &t.tm_sec) < 4)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return timegm(&t);
}

std::string Local(time_t when, const char *format)
{
    struct tm t;
    char text[40] = "";
    if (localtime_r(&when, &t))
        strftime(text, sizeof text, format, &t);
    return text;
}

std::string LocalStamp(const std::string &stamp)
{
    return stamp.empty() ? "" : Local(ParseUtc(stamp), "%Y-%m-%d %H:%M");
}

std::string Percent(long part, long whole)
{
    char text[16] = "";
    if (whole > 0)
        snprintf(text, sizeof text, "%.1f", 100.0 * part / whole);
    return text;
}

std::string Seconds(long tenths)
{
    char text[24];
    snprintf(text, sizeof text, "%ld.%ld", tenths / 10, std::labs(tenths % 10));
    return text;
}

// A bar's colour for a yield or a used share.
const char *YieldClass(long pass, long runs)
{
    if (runs == 0)
        return "none";
    double y = 100.0 * pass / runs;
    return y >= 95 ? "good" : y >= 80 ? "fair" : "poor";
}

struct BUCKET {
    long Runs = 0, FirstRuns = 0, FirstPass = 0;
};

// Runs by local hour or day: "" station is every station.
using Buckets = std::map<std::pair<std::string, std::string>, BUCKET>;

Buckets Bucketize(const std::vector<VIEW_HOUR> &hours, bool by_day)
{
    Buckets b;
    for (const VIEW_HOUR &h : hours) {
        std::string label = Local(ParseUtc(h.HourUtc), by_day ? "%Y-%m-%d" : "%Y-%m-%d %H:00");
        for (const std::string &station : {h.Station, std::string()}) {
            BUCKET &x = b[{label, station}];
            x.Runs += h.Runs;
            x.FirstRuns += h.FirstRuns;
            x.FirstPass += h.FirstPass;
        }
    }
    return b;
}

void Head(std::string *out, const char *now_utc, int refresh_s)
{
    out->append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                "style-src 'unsafe-inline'\">\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    if (refresh_s > 0)
        Appendf(out, "<meta http-equiv=\"refresh\" content=\"%d\">\n", refresh_s);
    Appendf(out, "<title>TALVEK line view, %s</title>\n", Escape(LocalStamp(now_utc)).c_str());
    out->append(
        "<style>\n"
        "body{font:14px/1.4 sans-serif;color:#222;margin:1.5em;max-width:60em}\n"
        "h1{font-size:1.4em;margin:0 0 .2em}h2{font-size:1.1em;border-bottom:1px solid #999;"
        "margin:1.4em 0 .5em}\n"
        "section{break-inside:avoid}\n"
        ".pair{display:flex;flex-wrap:wrap;gap:1.5em;align-items:flex-start}\n"
        "table{border-collapse:collapse}td,th{padding:.15em .6em;text-align:right;"
        "border-bottom:1px solid #ddd}th{background:#eee}td.t,th.t{text-align:left}\n"
        ".scroll{max-height:24em;overflow:auto}\n"
        "svg text{font:11px sans-serif;fill:#222}\n"
        ".good{fill:#2e7d32}.fair{fill:#f9a825}.poor{fill:#c62828}.none{fill:#bbb}"
        ".bar{fill:#1565c0}.p90{fill:#90caf9}.line{fill:none;stroke:#c62828;stroke-width:2}\n"
        "tr.warning td{background:#fff3c4}tr.alarm td{background:#ffcdd2}\n"
        ".note{color:#555}\n"
        "@media print{@page{size:A4;margin:12mm}body{margin:0;font-size:11px}"
        ".scroll{max-height:none;overflow:visible}}\n"
        "</style></head><body>\n");
}

void SummarySection(std::string *out, const VIEW_FIGURES &f, const VIEW_PERIOD &period)
{
    const VIEW_SUMMARY &s = f.Summary;
    std::string fpy = Percent(s.FirstPass, s.FirstRuns);
    std::string from = period.Since[0] ? LocalStamp(period.Since) : LocalStamp(s.FirstUtc);
    std::string to = period.Until[0] ? LocalStamp(period.Until) : LocalStamp(s.LastUtc);
    Appendf(out,
            "<section id=\"summary\" data-runs=\"%ld\" data-boards=\"%ld\" data-pass=\"%ld\" "
            "data-fail=\"%ld\" data-other=\"%ld\" data-fpy=\"%s\" data-retests=\"%ld\">\n"
            "<h2>Summary</h2><div class=\"pair\">\n",
            s.Runs, s.Boards, s.Pass, s.Fail, s.Other, fpy.c_str(), s.Runs - s.FirstRuns);
    // One bar split into PASS, FAIL and the rest.
    out->append("<svg width=\"320\" height=\"40\" role=\"img\" aria-label=\"verdicts\">");
    double x = 0;
    const struct {
        long n;
        const char *cls;
    } parts[] = {{s.Pass, "good"}, {s.Fail, "poor"}, {s.Other, "fair"}};
    for (const auto &p : parts) {
        double w = s.Runs ? 320.0 * p.n / s.Runs : 0;
        Appendf(out, "<rect x=\"%.1f\" y=\"4\" width=\"%.1f\" height=\"24\" class=\"%s\"/>", x, w,
                p.cls);
        x += w;
    }
    if (s.Runs == 0)
        out->append("<rect x=\"0\" y=\"4\" width=\"320\" height=\"24\" class=\"none\"/>");
    out->append("</svg>\n<table>");
    Appendf(out,
            "<tr><td class=\"t\">Runs</td><td>%ld</td></tr><tr><td class=\"t\">Boards</td>"
            "<td>%ld</td></tr><tr><td class=\"t\">PASS</td><td>%ld</td></tr>"
            "<tr><td class=\"t\">FAIL</td><td>%ld</td></tr>"
            "<tr><td class=\"t\">ABORTED/INCOMPLETE</td><td>%ld</td></tr>"
            "<tr><td class=\"t\">First-pass yield</td><td>%s</td></tr>"
            "<tr><td class=\"t\">Retests</td><td>%ld</td></tr>",
            s.Runs, s.Boards, s.Pass, s.Fail, s.Other, fpy.empty() ? "-" : (fpy + " %").c_str(),
            s.Runs - s.FirstRuns);
    Appendf(out, "<tr><td class=\"t\">Period</td><td>%s to %s</td></tr>",
            from.empty() ? "-" : Escape(from).c_str(), to.empty() ? "-" : Escape(to).c_str());
    if (period.Station[0])
        Appendf(out, "<tr><td class=\"t\">Station</td><td>%s</td></tr>",
                Escape(period.Station).c_str());
    out->append("</table></div></section>\n");
}

// Bars of runs per bucket, coloured by first-pass yield, for one station
// ("" all): the height is the runs, so an hour of 2 runs stays small.
void BucketChart(std::string *out, const Buckets &b, const std::vector<std::string> &labels,
                 const std::string &station, bool colour_by_yield)
{
    long top = 1;
    for (const auto &l : labels) {
        auto it = b.find({l, station});
        if (it != b.end())
            top = std::max(top, it->second.Runs);
    }
    double step = labels.empty() ? kChartWidth : kChartWidth / labels.size();
    Appendf(out, "<svg width=\"%.0f\" height=\"%.0f\" role=\"img\" aria-label=\"%s\">",
            kChartWidth, kChartHeight + 16, Escape(station.empty() ? "all stations" : station).c_str());
    for (size_t k = 0; k < labels.size(); k++) {
        auto it = b.find({labels[k], station});
        if (it == b.end())
            continue;
        const BUCKET &x = it->second;
        double h = kChartHeight * x.Runs / top;
        const char *cls = colour_by_yield ? YieldClass(x.FirstPass, x.FirstRuns) : "bar";
        Appendf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"%s\"/>",
                k * step + 1, kChartHeight - h, std::max(step - 2, 1.0), h, cls);
    }
    Appendf(out, "<text x=\"0\" y=\"%.0f\">%s</text><text x=\"%.0f\" y=\"%.0f\" "
                 "text-anchor=\"end\">%s</text><text x=\"%.0f\" y=\"10\" text-anchor=\"end\">"
                 "max %ld</text></svg>\n",
            kChartHeight + 14, labels.empty() ? "" : Escape(labels.front()).c_str(), kChartWidth,
            kChartHeight + 14, labels.empty() ? "" : Escape(labels.back()).c_str(), kChartWidth,
            top);
}

void YieldAndThroughput(std::string *out, const VIEW_FIGURES &f, const VIEW_PERIOD &period)
{
    time_t first = period.Since[0] ? ParseUtc(period.Since) : ParseUtc(f.Summary.FirstUtc);
    time_t last = period.Until[0] ? ParseUtc(period.Until) : ParseUtc(f.Summary.LastUtc);
    bool by_day = last - first > kDayBucketsAfter * 86400;
    Buckets b = Bucketize(f.Hours, by_day);
    std::vector<std::string> labels, stations;
    for (const auto &e : b) {
        if (labels.empty() || labels.back() != e.first.first)
            labels.push_back(e.first.first);
        if (!e.first.second.empty() &&
            std::find(stations.begin(), stations.end(), e.first.second) == stations.end())
            stations.push_back(e.first.second);
    }
    std::sort(stations.begin(), stations.end());
    const char *unit = by_day ? "day" : "hour";

    Appendf(out, "<section id=\"yield\" data-bucket=\"%s\"><h2>First-pass yield per station and "
                 "%s</h2>\n<p class=\"note\">Bar height: runs; colour: first-pass yield "
                 "(green 95 %% and over, amber 80 %% and over, red below). Local time.</p>\n",
            unit, unit);
    for (const std::string &st : stations) {
        Appendf(out, "<h3>%s</h3>\n", Escape(st).c_str());
        BucketChart(out, b, labels, st, true);
    }
    Appendf(out, "<div class=\"scroll\"><table><tr><th class=\"t\">%s</th><th class=\"t\">station"
                 "</th><th>runs</th><th>first runs</th><th>first-pass yield %%</th></tr>\n",
            unit);
    for (const auto &e : b) {
        if (e.first.second.empty())
            continue;
        const BUCKET &x = e.second;
        std::string fpy = Percent(x.FirstPass, x.FirstRuns);
        Appendf(out, "<tr data-bucket=\"%s\" data-station=\"%s\" data-runs=\"%ld\" "
                     "data-fpy=\"%s\"><td class=\"t\">%s</td><td class=\"t\">%s</td><td>%ld</td>"
                     "<td>%ld</td><td>%s</td></tr>\n",
                Escape(e.first.first).c_str(), Escape(e.first.second).c_str(), x.Runs, fpy.c_str(),
                Escape(e.first.first).c_str(), Escape(e.first.second).c_str(), x.Runs,
                x.FirstRuns, fpy.empty() ? "-" : fpy.c_str());
    }
    out->append("</table></div></section>\n");

    Appendf(out, "<section id=\"throughput\"><h2>Throughput: runs per %s</h2>\n", unit);
    BucketChart(out, b, labels, "", false);
    Appendf(out, "<div class=\"scroll\"><table><tr><th class=\"t\">%s</th><th>runs</th></tr>\n",
            unit);
    for (const auto &l : labels) {
        long runs = b[{l, ""}].Runs;
        Appendf(out, "<tr data-bucket=\"%s\" data-runs=\"%ld\"><td class=\"t\">%s</td><td>%ld</td>"
                     "</tr>\n",
                Escape(l).c_str(), runs, Escape(l).c_str(), runs);
    }
    out->append("</table></div></section>\n");
}

// The nearest-rank percentile q (0..1) of a station's durations, which
// arrive sorted by duration.
long Percentile(const std::vector<const VIEW_DURATION *> &d, long n, double q)
{
    long rank = static_cast<long>(q * n + 0.999999);
    long seen = 0;
    for (const VIEW_DURATION *x : d) {
        seen += x->Count;
        if (seen >= std::max(rank, 1L))
            return x->Tenths;
    }
    return d.empty() ? 0 : d.back()->Tenths;
}

void CycleSection(std::string *out, const VIEW_FIGURES &f)
{
    std::map<std::string, std::vector<const VIEW_DURATION *>> by_station;
    for (const VIEW_DURATION &d : f.Durations)
        by_station[d.Station].push_back(&d);
    struct ROW {
        std::string station;
        long runs, median, p90;
    };
    std::vector<ROW> rows;
    long top = 1;
    for (const auto &e : by_station) {
        long n = 0;
        for (const VIEW_DURATION *d : e.second)
            n += d->Count;
        rows.push_back({e.first, n, Percentile(e.second, n, 0.5), Percentile(e.second, n, 0.9)});
        top = std::max(top, rows.back().p90);
    }
    out->append("<section id=\"cycle\"><h2>Cycle time per station (seconds)</h2>\n"
                "<p class=\"note\">Dark: median; light: 90th percentile.</p><div class=\"pair\">\n");
    Appendf(out, "<svg width=\"400\" height=\"%zu\" role=\"img\" aria-label=\"cycle time\">",
            rows.size() * 22 + 4);
    for (size_t k = 0; k < rows.size(); k++) {
        double y = k * 22 + 2;
        Appendf(out,
                "<rect x=\"120\" y=\"%.0f\" width=\"%.1f\" height=\"18\" class=\"p90\"/>"
                "<rect x=\"120\" y=\"%.0f\" width=\"%.1f\" height=\"18\" class=\"bar\"/>"
                "<text x=\"115\" y=\"%.0f\" text-anchor=\"end\">%s</text>",
                y, rows[k].p90 > 0 ? 270.0 * rows[k].p90 / top : 0, y,
                rows[k].median > 0 ? 270.0 * rows[k].median / top : 0, y + 13,
                Escape(rows[k].station.substr(0, 18)).c_str());
    }
    out->append("</svg>\n<table><tr><th class=\"t\">station</th><th>runs</th><th>median</th>"
                "<th>p90</th></tr>\n");
    for (const ROW &r : rows)
        Appendf(out, "<tr data-station=\"%s\" data-runs=\"%ld\" data-median=\"%s\" data-p90=\"%s\">"
                     "<td class=\"t\">%s</td><td>%ld</td><td>%s</td><td>%s</td></tr>\n",
                Escape(r.station).c_str(), r.runs, Seconds(r.median).c_str(),
                Seconds(r.p90).c_str(), Escape(r.station).c_str(), r.runs,
                Seconds(r.median).c_str(), Seconds(r.p90).c_str());
    out->append("</table></div></section>\n");
}

void FailuresSection(std::string *out, const VIEW_FIGURES &f)
{
    std::map<std::string, long> groups;
    long total = 0;
    for (const VIEW_MESSAGE &m : f.Messages) {
        groups[ViewReason(m.Message)] += m.Count;
        total += m.Count;
    }
    std::vector<std::pair<std::string, long>> reasons(groups.begin(), groups.end());
    std::stable_sort(reasons.begin(), reasons.end(),
                     [](const auto &a, const auto &b) { return a.second > b.second; });
    if (reasons.size() > static_cast<size_t>(kTopReasons)) {
        long rest = 0;
        for (size_t k = kTopReasons - 1; k < reasons.size(); k++)
            rest += reasons[k].second;
        reasons.resize(kTopReasons - 1);
        reasons.push_back({"(all other reasons)", rest});
    }
    Appendf(out, "<section id=\"failures\" data-failed=\"%ld\"><h2>Failure reasons</h2>\n"
                 "<p class=\"note\">Runs that did not pass, by reason (numbers, MACs and keys "
                 "shown as #); the line is the cumulative share.</p><div class=\"pair\">\n",
            total);
    long top = reasons.empty() ? 1 : std::max(reasons.front().second, 1L);
    double step = reasons.empty() ? 0 : 300.0 / reasons.size();
    out->append("<svg width=\"320\" height=\"140\" role=\"img\" aria-label=\"failure Pareto\">");
    std::string line;
    long cumulative = 0;
    for (size_t k = 0; k < reasons.size(); k++) {
        double h = 120.0 * reasons[k].second / top;
        cumulative += reasons[k].second;
        Appendf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"bar\"/>",
                10 + k * step, 130 - h, std::max(step - 3, 1.0), h);
        Appendf(&line, "%.1f,%.1f ", 10 + (k + 0.5) * step, 130 - 120.0 * cumulative / total);
    }
    if (!line.empty())
        Appendf(out, "<polyline class=\"line\" points=\"%s\"/>", line.c_str());
    out->append("</svg>\n<table><tr><th class=\"t\">reason</th><th>runs</th>"
                "<th>cumulative %</th></tr>\n");
    cumulative = 0;
    for (const auto &r : reasons) {
        cumulative += r.second;
        std::string share = Percent(cumulative, total);
        std::string reason = r.first.empty() ? "(no message)" : r.first;
        Appendf(out, "<tr data-reason=\"%s\" data-count=\"%ld\" data-cumulative=\"%s\">"
                     "<td class=\"t\">%s</td><td>%ld</td><td>%s</td></tr>\n",
                Escape(reason).c_str(), r.second, share.c_str(), Escape(reason).c_str(), r.second,
                share.c_str());
    }
    out->append("</table></div></section>\n");
}

void PoolsSection(std::string *out, const VIEW_FIGURES &f)
{
    out->append("<section id=\"pools\"><h2>MAC pools</h2>\n");
    if (f.Pools.empty()) {
        out->append("<p class=\"note\">No allow-list given (--ini TALVEK.ini).</p></section>\n");
        return;
    }
    out->append("<p class=\"note\">Used: reserved or verified; released addresses are counted "
                "apart and can be reserved again. Rate: reservations per day over the last 7 "
                "days. Warning at 80 % used, alarm at 95 % or under 7 days left.</p>\n"
                "<table><tr><th class=\"t\">range (value/mask)</th><th>used</th><th>addresses"
                "</th><th>used</th><th>released</th><th>left</th><th>per day</th>"
                "<th>days left</th><th class=\"t\">state</th></tr>\n");
    for (const VIEW_POOL &p : f.Pools) {
        POOL_STATE s;
        PoolState(p, &s);
        char days[32] = "";
        if (s.HasDaysLeft)
            snprintf(days, sizeof days, "%.1f", s.DaysLeft);
        std::string range = PoolRangeText(p.Range);
        Appendf(out,
                "<tr class=\"%s\" data-range=\"%s\" data-total=\"%llu\" data-used=\"%ld\" "
                "data-left=\"%llu\" data-days-left=\"%s\" data-state=\"%s\">"
                "<td class=\"t\">%s</td><td><svg width=\"100\" height=\"12\">"
                "<rect width=\"100\" height=\"12\" class=\"none\"/><rect width=\"%.1f\" "
                "height=\"12\" class=\"%s\"/></svg></td><td>%llu</td><td>%ld</td><td>%ld</td>"
                "<td>%llu</td><td>%.1f</td><td>%s</td><td class=\"t\">%s</td></tr>\n",
                s.Level, range.c_str(), static_cast<unsigned long long>(p.Total), p.Used,
                static_cast<unsigned long long>(s.Left), days, s.Level, range.c_str(),
                std::min(s.UsedPercent, 100.0),
                strcmp(s.Level, "ok") == 0 ? "good" : strcmp(s.Level, "warning") == 0 ? "fair"
                                                                                         : "poor",
                static_cast<unsigned long long>(p.Total), p.Used, p.Released,
                static_cast<unsigned long long>(s.Left), s.PerDay, days[0] ? days : "-", s.Level);
    }
    out->append("</table></section>\n");
}

void RefusalsSection(std::string *out, const VIEW_FIGURES &f)
{
    Appendf(out, "<section id=\"refusals\"><h2>Latest duplicate refusals and releases</h2>\n");
    if (f.Events.empty()) {
        out->append("<p class=\"note\">None in this period.</p></section>\n");
        return;
    }
    out->append("<table><tr><th class=\"t\">time</th><th class=\"t\">what</th><th class=\"t\">"
                "board</th><th class=\"t\">station</th><th class=\"t\">detail</th></tr>\n");
    for (const VIEW_EVENT &e : f.Events)
        Appendf(out, "<tr data-kind=\"%s\"><td class=\"t\">%s</td><td class=\"t\">%s</td>"
                     "<td class=\"t\">%s</td><td class=\"t\">%s</td><td class=\"t\">%s</td></tr>\n",
                Escape(e.Kind).c_str(), Escape(LocalStamp(e.WhenUtc)).c_str(),
                Escape(e.Kind).c_str(), Escape(e.Board.empty() ? "-" : e.Board).c_str(),
                Escape(e.Station).c_str(), Escape(e.Text).c_str());
    out->append("</table></section>\n");
}

}  // namespace

std::string ViewReason(const std::string &text)
{
    // A closing "(...)" says where and when (station, time): not the reason.
    std::string message = text;
    size_t open = message.rfind(" (");
    if (open != std::string::npos && !message.empty() && message.back() == ')')
        message.erase(open);
    std::string out;
    size_t k = 0;
    while (k < message.size()) {
        size_t end = message.find(' ', k);
        if (end == std::string::npos)
            end = message.size();
        std::string word = message.substr(k, end - k);
        bool digit = word.find_first_of("0123456789") != std::string::npos;
        if (!out.empty())
            out += ' ';
        out += digit ? "#" : word;
        k = end + 1;
    }
    return out;
}

std::string RenderViewHtml(const VIEW_FIGURES &figures, const VIEW_PERIOD &period,
                           const char *now_utc, int refresh_s)
{
    std::string out;
    Head(&out, now_utc, refresh_s);
    Appendf(&out, "<h1>TALVEK line view</h1>\n<p class=\"note\">Made %s (local time) from the "
                  "MAC registry.</p>\n",
            Escape(LocalStamp(now_utc)).c_str());
    if (refresh_s > 0)
        Appendf(&out, "<p class=\"note\">The last 24 hours, refreshed every %d seconds.</p>\n",
                refresh_s);
    SummarySection(&out, figures, period);
    YieldAndThroughput(&out, figures, period);
    CycleSection(&out, figures);
    FailuresSection(&out, figures);
    PoolsSection(&out, figures);
    RefusalsSection(&out, figures);
    out.append("</body></html>\n");
    return out;
}

std::string RenderUnavailableHtml(const char *now_utc, int refresh_s)
{
    std::string out;
    Head(&out, now_utc, refresh_s);
    Appendf(&out, "<h1>TALVEK line view</h1>\n<section id=\"unavailable\"><h2>The MAC registry "
                  "cannot be read right now</h2>\n<p>%s (local time). This page tries again "
                  "every %d seconds by itself; the reason is in the service's log.</p>"
                  "</section>\n</body></html>\n",
            Escape(LocalStamp(now_utc)).c_str(), refresh_s);
    return out;
}
