#pragma once

// The longest wait any of the bench tools allows on a line, in ms: an
// answer timeout, a late limit, a late answer, a pause, a line fault's
// period. A minute; more is a typing slip, not a setting.
constexpr unsigned long kLongestWaitMs = 60000;
