// A module that has not been handed a service table yet: its own process, since once
// any host has called InitPlugin the module keeps that table for the process's life.
#include <gtest/gtest.h>

#include "tests/plugin/test_host.h"

TEST(ModuleWithoutHost, RunBeforeInitReturnsZero) { EXPECT_EQ(TestHost::Run(), 0); }
