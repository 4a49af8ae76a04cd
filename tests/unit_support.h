// Shared helpers of the unit tests: a scratch working directory per test, a
// scripted stand-in for ./kovripmi, and capture of standard output.
#ifndef TALVEK_TESTS_UNIT_SUPPORT_H
#define TALVEK_TESTS_UNIT_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Every test of a fixture derived from this one runs in its own empty
// directory; the working directory is restored and the directory removed
// afterwards, so the tests of one process do not see each other's files.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char *cwd = getcwd(nullptr, 0);
        ASSERT_NE(cwd, nullptr);
        old_cwd_ = cwd;
        free(cwd);
        char tmpl[] = "/tmp/talvek-unit-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }

    void TearDown() override
    {
        EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    static void WriteFile(const std::string &name, const std::string &content)
    {
        std::ofstream f(name, std::ios::binary | std::ios::trunc);
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
        ASSERT_TRUE(f.good()) << name;
    }

    static std::string ReadFile(const std::string &name)
    {
        std::ifstream f(name, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

    static bool Exists(const std::string &name) { return access(name.c_str(), F_OK) == 0; }

    // Names in the working directory, sorted.
    static std::vector<std::string> Listing()
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator("."))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Writes ./kovripmi as a shell script with the given body. The script
    // appends its arguments to "args.log" first, so a test can see every
    // request that reached it.
    static void WriteTool(const std::string &body)
    {
        WriteFile("kovripmi", "#!/bin/sh\necho \"$*\" >> args.log\n" + body + "\n");
        ASSERT_EQ(chmod("kovripmi", 0755), 0);
    }

    // A tool that prints the given text and exits with the given status.
    static void WriteReplyTool(const std::string &text, int status = 0)
    {
        std::string quoted;
        for (char c : text) {
            if (c == '\'')
                quoted += "'\\''";
            else
                quoted += c;
        }
        WriteTool("printf '%s' '" + quoted + "'\nexit " + std::to_string(status));
    }

    // Lines of "args.log"; empty when the tool never ran.
    static std::vector<std::string> ToolCalls()
    {
        std::vector<std::string> lines;
        std::istringstream s(ReadFile("args.log"));
        for (std::string line; std::getline(s, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::string old_cwd_;
    std::string dir_;
};

// Redirects file descriptor 1 to a temporary file between construction and
// Take(), so that puts/printf output of the code under test can be compared
// byte for byte. Output of child processes started meanwhile is captured too.
class StdoutCapture {
public:
    StdoutCapture()
    {
        fflush(stdout);
        file_ = tmpfile();
        saved_ = dup(1);
        if (file_ != nullptr && saved_ >= 0)
            dup2(fileno(file_), 1);
    }

    ~StdoutCapture() { Take(); }

    std::string Take()
    {
        if (saved_ < 0)
            return text_;
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
        if (file_ != nullptr) {
            rewind(file_);
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), file_)) > 0)
                text_.append(buf, n);
            fclose(file_);
            file_ = nullptr;
        }
        return text_;
    }

private:
    FILE *file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

#endif
