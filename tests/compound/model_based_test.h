#pragma once
#include <functional>
#include <string>

// Runs `steps` random operations from `seed` against the model (gtest
// assertions); extra_check(file, step) runs after each step's own checks.
void RunModel(unsigned seed, int steps,
              const std::function<void(const std::string&, int)>& extra_check);
