// The messages users see for runtime failures.
#include "runtime/errors.h"

#include <gtest/gtest.h>

namespace kavrimo {
namespace {

struct CodeCase {
  int code;
  const char* message;
};

class InOutMessage : public testing::TestWithParam<CodeCase> {};

TEST_P(InOutMessage, CodeSelectsMessage) {
  const EInOutError error(GetParam().code);
  EXPECT_EQ(error.ErrorCode(), GetParam().code);
  EXPECT_STREQ(error.what(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Codes, InOutMessage,
                         testing::Values(CodeCase{2, "File not found"}, CodeCase{3, "Invalid filename"},
                                         CodeCase{4, "Too many open files"}, CodeCase{5, "File access denied"},
                                         CodeCase{100, "Read beyond end of file"}, CodeCase{101, "Disk full"},
                                         CodeCase{106, "Invalid numeric input"}, CodeCase{32, "I/O error 32"},
                                         CodeCase{27, "I/O error 27"}));

TEST(FloatingPointErrors, CarryTheirMessagesAndShareABase) {
  EXPECT_STREQ(EInvalidOp().what(), "Invalid floating point operation");
  EXPECT_STREQ(EZeroDivide().what(), "Floating point division by zero");
  EXPECT_STREQ(EOverflow().what(), "Floating point overflow");
  try {
    throw EZeroDivide();
  } catch (const EMathError& e) {
    EXPECT_EQ(e.Message(), "Floating point division by zero");
  }
}

TEST(FullStopRule, AppendsAfterCharactersAboveTheFullStop) {
  EXPECT_EQ(WithFullStop("File not found"), "File not found.");
  EXPECT_EQ(WithFullStop("I/O error 5"), "I/O error 5.");
  EXPECT_EQ(WithFullStop("'12 ' is not a valid integer value"), "'12 ' is not a valid integer value.");
  EXPECT_EQ(WithFullStop("Already ends."), "Already ends.");
  EXPECT_EQ(WithFullStop("(in brackets)"), "(in brackets)");
  EXPECT_EQ(WithFullStop("dash-"), "dash-");     // '-' is below '.'
  EXPECT_EQ(WithFullStop("slash/"), "slash/.");  // '/' is above '.'
  EXPECT_EQ(WithFullStop(""), "");
}

}  // namespace
}  // namespace kavrimo
