// End-to-end test harness: a temporary station directory holding the
// simulated ./kovripmi, in which the real TALVEK binary is run with
// sleep() replaced by the journaling shim.
#ifndef TALVEK_TESTS_STATION_H
#define TALVEK_TESTS_STATION_H

#include <string>
#include <vector>

struct RunResult {
    int status = -1;      // exit status, or 128 + signal
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error
};

class Station {
public:
    Station();   // creates the directory with ./kovripmi and a permissive TALVEK.ini
    ~Station();  // removes it
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    const std::string &dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;  // "" when missing
    bool exists(const std::string &name) const;
    void remove(const std::string &name) const;

    // Scenario lines for the simulated BMC (kovripmi.scenario).
    void scenario(const std::string &text) const { write("kovripmi.scenario", text); }

    // Runs TALVEK with args; stdin_data is fed through a file (EOF at its end).
    RunResult run(const std::vector<std::string> &args, const std::string &stdin_data = "") const;

    // Journal lines: "raw ..." per request, "sleep N" per pause.
    std::vector<std::string> journal() const;
    std::vector<std::string> requests() const;  // journal without the sleeps
    int sleeps() const;                          // seconds slept
    int count(const std::string &line) const;    // journal lines equal to line

private:
    std::string dir_;
};

// Binaries under test.
std::string TalvekBinary();
std::string SimBinary();
std::string SleepShim();

// Fixed console texts, byte for byte.
extern const char kVersionLine[];
extern const char kPassBanner[];
extern const char kFailBanner[];
extern const char kAllowAllIni[];

#endif
