#include "gsl_throw.h"

#include <gtest/gtest.h>

TEST (Preconditions, MessageNamesFileRelativeToRepositoryAndLine)
{
    try
    {
        KTO_EXPECTS (1 + 1 == 3);
        FAIL() << "no throw";
    }
    catch (const gsl::fail_fast& e)
    {
        EXPECT_EQ (std::string (e.what()),
                   "GSL: Precondition failure at tests/core/GslTest.cpp: " + std::to_string (__LINE__ - 6));
    }
    EXPECT_NO_THROW (KTO_EXPECTS (true));
    EXPECT_THROW ((void) gsl::narrow<int> (1.5), gsl::narrowing_error);
}
