#include "wyr/windows/system/OsFacts.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using wyr::windows::system::OsFacts;

namespace {

constexpr const char* kDebianRelease = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                       "NAME=\"Debian GNU/Linux\"\n"
                                       "VERSION_ID=\"12\"\n"
                                       "VERSION=\"12 (bookworm)\"\n"
                                       "ID=debian\n";

// Sources that answer with fixed values and count how often the kernel was asked.
struct FixedSources {
    std::optional<std::string> osRelease;
    std::optional<OsFacts::Kernel> kernel;
    std::atomic<int> kernelCalls{0};

    OsFacts::Sources sources() {
        return {[this] { return osRelease; },
                [this] {
                    ++kernelCalls;
                    return kernel;
                }};
    }
};

} // namespace

TEST(OsFacts, DerivesTheFourFactsFromOsReleaseAndUname) {
    FixedSources fixed{kDebianRelease, OsFacts::Kernel{"Linux", "6.1.76-1-amd64", "x86_64"}};
    OsFacts facts(fixed.sources());

    ASSERT_TRUE(facts.probe());
    EXPECT_TRUE(facts.available());
    EXPECT_EQ(facts.osName(), L"Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(facts.processorArchitecture(), L"x64");
    EXPECT_EQ(facts.servicePack(), L"6.1.76-1-amd64");
    EXPECT_EQ(facts.buildNumber(), 76);
}

TEST(OsFacts, OsNameFallsBackThroughNameAndVersionToTheKernelName) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"NAME=Fedora\nVERSION=\"39 (Workstation Edition)\"\n", "Fedora 39 (Workstation Edition)"},
        {"NAME='Alpine Linux'\nPRETTY_NAME=\"\"\n", "Alpine Linux"},
        {"# comment\n\n  PRETTY_NAME = broken\nPRETTY_NAME=\"Say \\\"hi\\\" \\\\o/\"\n", "Say \"hi\" \\o/"},
        {"PRETTY_NAME=\"never closed\nNAME=Arch\n", "Arch"},
        {"\x01\x02 garbage \xff\xfe\n===\n=value\nlower=case\n", "Linux"},
        {"", "Linux"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OsFacts::osNameFrom(c.text, "Linux"), c.expected) << c.text;
    }
}

TEST(OsFacts, ArchitectureAndBuildNumberFromUnameValues) {
    EXPECT_EQ(OsFacts::architectureFrom("x86_64"), "x64");
    EXPECT_EQ(OsFacts::architectureFrom("i686"), "x86");
    EXPECT_EQ(OsFacts::architectureFrom("i386"), "x86");
    EXPECT_EQ(OsFacts::architectureFrom("aarch64"), "aarch64");
    EXPECT_EQ(OsFacts::architectureFrom("i786"), "i786");
    EXPECT_EQ(OsFacts::architectureFrom(""), "Unknown");

    EXPECT_EQ(OsFacts::buildNumberFrom("6.18.44-fc-v1607"), 44);
    EXPECT_EQ(OsFacts::buildNumberFrom("5.10.0"), 0);
    EXPECT_EQ(OsFacts::buildNumberFrom("6.1-rc3"), 0);
    EXPECT_EQ(OsFacts::buildNumberFrom("6.1.x"), 0);
    EXPECT_EQ(OsFacts::buildNumberFrom("6.1.-3"), 0);
    EXPECT_EQ(OsFacts::buildNumberFrom("6.1.99999999999"), 0);
    EXPECT_EQ(OsFacts::buildNumberFrom(""), 0);
}

TEST(OsFacts, MissingOsReleaseAndEmptyKernelFieldsStillGiveFacts) {
    FixedSources fixed{std::nullopt, OsFacts::Kernel{"Linux", "", ""}};
    OsFacts facts(fixed.sources());

    ASSERT_TRUE(facts.probe());
    const OsFacts::Facts got = facts.facts();
    EXPECT_EQ(got.osName, L"Linux");
    EXPECT_EQ(got.processorArchitecture, L"Unknown");
    EXPECT_EQ(got.servicePack, L"None");
    EXPECT_EQ(got.buildNumber, 0);
}

TEST(OsFacts, ProbesOnceAndRetriesOnlyAFailedProbe) {
    FixedSources fixed{kDebianRelease, std::nullopt};
    OsFacts facts(fixed.sources());

    EXPECT_FALSE(facts.probe());
    const OsFacts::Facts missing = facts.facts();
    EXPECT_FALSE(missing.available);
    EXPECT_EQ(missing.osName, L"");
    EXPECT_EQ(missing.processorArchitecture, L"");
    EXPECT_EQ(missing.servicePack, L"");
    EXPECT_EQ(missing.buildNumber, 0);
    EXPECT_EQ(fixed.kernelCalls, 2);

    fixed.kernel = OsFacts::Kernel{"Linux", "6.1.2", "aarch64"};
    EXPECT_TRUE(facts.probe());
    EXPECT_EQ(fixed.kernelCalls, 3);

    // Later changes of the sources are not seen: the facts are kept.
    fixed.kernel = OsFacts::Kernel{"Linux", "7.0.0", "x86_64"};
    EXPECT_TRUE(facts.probe());
    EXPECT_EQ(facts.facts().processorArchitecture, L"aarch64");
    EXPECT_EQ(fixed.kernelCalls, 3);
}

TEST(OsFacts, ConcurrentFirstRequestsProbeOnce) {
    FixedSources fixed{kDebianRelease, OsFacts::Kernel{"Linux", "6.1.2", "x86_64"}};
    OsFacts facts(fixed.sources());

    std::vector<std::thread> threads;
    std::atomic<int> agreed{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (facts.facts().osName == L"Debian GNU/Linux 12 (bookworm)") {
                ++agreed;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(agreed, 8);
    EXPECT_EQ(fixed.kernelCalls, 1);
}

TEST(OsFacts, TheSystemsOwnFactsAreAvailable) {
    OsFacts& facts = OsFacts::instance();
    ASSERT_TRUE(facts.probe());
    EXPECT_FALSE(facts.osName().empty());
    EXPECT_FALSE(facts.processorArchitecture().empty());
    EXPECT_FALSE(facts.servicePack().empty());
}
