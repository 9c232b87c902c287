#pragma once

// Every test process runs with a home and per-user folders of its own, made empty when it starts and removed
// when it ends, so that nothing a test does (a file dialog's history, a thumbnail, a configuration file)
// reaches the files of the user who runs the tests.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class TPrivateUserFolders
{
public:
    TPrivateUserFolders()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mirava-test-home-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mirava tests: cannot make a private home folder");
            std::exit(1);
        }
        root = pattern;
        Point("HOME", "");
        Point("XDG_CONFIG_HOME", "/.config");
        Point("XDG_DATA_HOME", "/.local/share");
        Point("XDG_CACHE_HOME", "/.cache");
        Point("XDG_STATE_HOME", "/.local/state");
    }

    ~TPrivateUserFolders()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    TPrivateUserFolders(const TPrivateUserFolders&) = delete;
    TPrivateUserFolders& operator=(const TPrivateUserFolders&) = delete;

private:
    void Point(const char* variable, const char* below)
    {
        const std::string folder = root + below;
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        ::setenv(variable, folder.c_str(), 1);
    }

    std::string root;
};
