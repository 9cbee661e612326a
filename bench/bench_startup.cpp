// Whole-process start-up: kestrane-cli against an empty process, each run
// from spawn to exit, with standard output going to /dev/null.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

void Spawn(benchmark::State& state, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start the program");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&fa);
}

void BM_Startup_EmptyProcess(benchmark::State& state) { Spawn(state, {"/bin/true"}); }
void BM_Startup_Tree(benchmark::State& state) { Spawn(state, {KESTRANE_CLI, "tree"}); }
// A class without instances here (no SMBIOS in a virtual machine without DMI).
void BM_Startup_ListBios(benchmark::State& state) { Spawn(state, {KESTRANE_CLI, "list", "Win32_BIOS"}); }
void BM_Startup_Summary(benchmark::State& state) { Spawn(state, {KESTRANE_CLI, "summary"}); }

}  // namespace

BENCHMARK(BM_Startup_EmptyProcess)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Startup_Tree)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Startup_ListBios)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Startup_Summary)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
