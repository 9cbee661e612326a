// One sshd per test suite (starting one costs about half a second), whose
// client side's home holds the keys and known_hosts, and a scratch folder
// with a copy of kestrane-cli that the throwaway account can run (it cannot
// reach into a build tree under a private directory).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/sshd_harness.h"
#include "wmi/ssh/ssh_client.h"

namespace kestrane::testing {

template <class Suite>
class SshdSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        namespace fs = std::filesystem;
        server_ = SshServer::Start(&whyNot_, Suite::kConfig).release();
        if (!server_) return;
        ::setenv("HOME", server_->clientHome().c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        scratch_ = fs::path(server_->clientHome()).parent_path() / "scratch";
        const auto open = fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write;
        fs::create_directories(scratch_);
        fs::permissions(scratch_, open);
        fs::copy_file(KESTRANE_CLI, scratch_ / "kestrane-cli", fs::copy_options::overwrite_existing);
        fs::permissions(scratch_ / "kestrane-cli", open);
    }
    static void TearDownTestSuite() {
        wmi::ssh::CloseAllSessions();
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        // CI runs as root with openssh-server installed: there a missing
        // server is a failure, not a reason to skip.
        if (!server_ && std::getenv("CI")) FAIL() << "no sshd for tests: " << whyNot_;
        if (!server_) GTEST_SKIP() << "no sshd for tests: " << whyNot_;
        wmi::ssh::CloseAllSessions();
    }

    // The program as any account can run it.
    static std::string SharedCli() { return (scratch_ / "kestrane-cli").string(); }
    static wmi::ssh::Options Trusting(const std::string& remoteCli = KESTRANE_CLI) {
        wmi::ssh::Options o;
        o.remoteCli = remoteCli;
        o.unknownHost = [](const wmi::ssh::HostKeyQuestion&) { return wmi::ssh::HostKeyChoice::ConnectOnce; };
        return o;
    }

    static inline SshServer* server_ = nullptr;
    static inline std::string whyNot_;
    static inline std::filesystem::path scratch_;
};

}  // namespace kestrane::testing
