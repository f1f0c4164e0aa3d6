// The module finds and loads its board driver module while it loads: the
// simulator named in the registry, else the driver along the search path.
// Each case runs this executable again with the case's environment, since
// the load happens before main.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/text.h"
#include "sim/simcontrol.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The child: how many roots did the simulator hand out while the library
// loaded? The same file opened here is the same module with the same state.
TEST(ModuleLoad, Child)
{
    const char* expected = std::getenv("QORX_EXPECT_ROOTS");
    if (!expected)
        GTEST_SKIP() << "runs as the child of the ModuleLoad cases";
    plat::ModuleHandle sim = plat::loadModule(plat::wideFromUtf8(QORX_SIM_PATH));
    ASSERT_NE(sim, nullptr);
    auto control = reinterpret_cast<ccSimControlFunction>(plat::moduleSymbol(sim, ccSimControlName));
    ASSERT_NE(control, nullptr);
    ccSimAudit audit{};
    control()->audit(&audit);
    EXPECT_EQ(audit.roots, static_cast<uint32_t>(std::atoi(expected)));
    // A module without boards or discovery is let go at the end of its load.
    EXPECT_EQ(audit.live, 0u);
    plat::freeModule(sim);
}

int runChild(const std::vector<std::string>& settings)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QORALT_", 0) != 0 && entry.rfind("QORX_EXPECT_", 0) != 0
            && entry.rfind("QORXSIM_", 0) != 0)
            env.push_back(entry);
    }
    env.insert(env.end(), settings.begin(), settings.end());
    // A simulator without boards is let go at the end of the load.
    env.push_back("QORXSIM_BOARDS=0");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=ModuleLoad.Child";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModuleLoad, TheDriverOnTheSearchPathAndTheRegistrySimulatorAreLoadedAtLoad)
{
    const fs::path dir = fs::temp_directory_path() / ("qorx_moduleload_" + std::to_string(getpid()));
    fs::create_directories(dir / "driver");
    fs::create_directories(dir / "empty");
    fs::create_symlink(QORX_SIM_PATH, dir / "driver" / "QORNV7320_.so");
    {
        std::ofstream registry(dir / "registry.txt");
        registry << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qoralt\\QMB\\utconfig\\FGSim;moduleName=string:" << QORX_SIM_PATH
                 << "\n";
    }
    const std::string driverPath = "QORALT_SYSTEM_PATH=" + (dir / "driver").string();
    const std::string emptyPath = "QORALT_SYSTEM_PATH=" + (dir / "empty").string();
    const std::string registry = "QORALT_REGISTRY_FILE=" + (dir / "registry.txt").string();
    const struct {
        const char* name;
        std::vector<std::string> settings;
    } cases[] = {
        {"driver on the path, name in another case", {driverPath, "QORX_EXPECT_ROOTS=1"}},
        {"simulator from the registry, nothing on the path", {emptyPath, registry, "QORX_EXPECT_ROOTS=1"}},
        {"both: the same file loaded twice", {driverPath, registry, "QORX_EXPECT_ROOTS=2"}},
        {"neither", {emptyPath, "QORX_EXPECT_ROOTS=0"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runChild(c.settings), 0) << c.name;
    fs::remove_all(dir);
}

} // namespace
