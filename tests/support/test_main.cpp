// Test entry point: every test starts with no fault armed and no table installed.
#include "errors/error_block.h"
#include "errors/placeholders.h"
#include "platform/fault.h"

#include <gtest/gtest.h>

namespace {

class CleanSlate : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { Reset(); }
    void OnTestEnd(const ::testing::TestInfo&) override { Reset(); }
    static void Reset()
    {
        ResetFaults();
        InstallMessageTables(nullptr);
        InstallSubstitutionTable(nullptr);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CleanSlate);
    return RUN_ALL_TESTS();
}
