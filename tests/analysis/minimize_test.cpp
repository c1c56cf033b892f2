#include "minimize.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Counts its evaluations; (x0 - 3)^2 + 10 (x1 + 1)^2 + 1.
struct Bowl : Minimize {
  int calls = 0;
  double value(const double* x, int32_t) override {
    ++calls;
    return (x[0] - 3.0) * (x[0] - 3.0) + 10.0 * (x[1] + 1.0) * (x[1] + 1.0) + 1.0;
  }
};

// Answers a fixed sequence of values, whatever the point.
struct Script : Minimize {
  std::vector<double> values;
  size_t next = 0;
  double value(const double*, int32_t) override {
    return next < values.size() ? values[next++] : 100.0;
  }
};

struct Matrix {
  double** m;
  Matrix(int32_t r, int32_t c) : m(alloc_matrix_double(r, c)) {}
  ~Matrix() { free_matrix_double(m); }
};

std::vector<std::string> captured;
MessageSink capture() {
  captured.clear();
  return [](const std::string& s) { captured.push_back(s); };
}

}  // namespace

TEST(Minimize, SimplexCountsExactlyTheEvaluationsAfterInit) {
  // Kept reflections count 1, expansions and contractions 2, shrinks ndim:
  // exactly the objective's calls beyond the ndim + 1 of simplexinit.
  const double starts[][2] = {{0.0, 0.0}, {10.0, -7.0}, {3.2, -0.9}};
  for (const auto& start : starts) {
    Bowl bowl;
    Matrix P(3, 2);
    double y[3];
    const double step[2] = {1.0, 1.0};
    const double tol[2] = {1e-3, 1e-3};
    simplexinit(2, start, step, bowl, P.m, y);
    EXPECT_EQ(bowl.calls, 3);
    int32_t nfunk = -1;
    ScopedMessageSink sink(capture());
    downhillsimplex(P.m, y, 2, tol, bowl, &nfunk);
    EXPECT_EQ(bowl.calls - 3, nfunk);
    if (nfunk < 100) {
      EXPECT_NEAR(P.m[0][0], 3.0, 0.01);
      EXPECT_NEAR(P.m[0][1], -1.0, 0.01);
      EXPECT_TRUE(captured.empty());
    }
    EXPECT_LE(y[0], y[1]);
    EXPECT_LE(y[0], y[2]);
  }
}

TEST(Minimize, ShrinkCountsTwoMoreForTwoParameters) {
  // Vertices (1,0) (0,1) (0,0) with values 1 2 3; the reflection and the
  // contraction are both worse, so the simplex shrinks toward (1,0), which
  // halves the spread below the tolerance.
  Script script;
  script.values = {1.0, 2.0, 3.0, 10.0, 10.0, 1.5, 1.6};
  Matrix P(3, 2);
  double y[3];
  const double start[2] = {0.0, 0.0};
  const double step[2] = {1.0, 1.0};
  const double tol[2] = {0.6, 0.6};
  simplexinit(2, start, step, script, P.m, y);
  int32_t nfunk = 0;
  downhillsimplex(P.m, y, 2, tol, script, &nfunk);
  EXPECT_EQ(nfunk, 4);
  EXPECT_EQ(script.next, 7u);
  EXPECT_EQ(P.m[0][0], 1.0);  // the best vertex, kept in place by the shrink
  EXPECT_EQ(y[0], 1.0);
}

TEST(Minimize, ConvergedSimplexMovesLastEqualMinimumToFront) {
  Script script;
  script.values = {1.0, 0.0, 0.0};  // vertices 1 and 2 tie for the best
  Matrix P(3, 2);
  double y[3];
  const double start[2] = {5.0, 6.0};
  const double step[2] = {1e-9, 1e-9};
  const double tol[2] = {1e-3, 1e-3};
  simplexinit(2, start, step, script, P.m, y);
  int32_t nfunk = -1;
  downhillsimplex(P.m, y, 2, tol, script, &nfunk);
  EXPECT_EQ(nfunk, 0);
  EXPECT_EQ(script.next, 3u);
  EXPECT_EQ(P.m[0][0], 5.0);  // vertex 2 (the start itself) is now vertex 0
  EXPECT_EQ(P.m[0][1], 6.0);
  EXPECT_EQ(y[0], 0.0);
  EXPECT_EQ(y[2], 1.0);
}

TEST(Minimize, SimplexAbortsAfterTheEvaluationLimit) {
  struct Slope : Minimize {  // no minimum: the simplex runs off
    double value(const double* x, int32_t) override { return -x[0] - x[1]; }
  } slope;
  Matrix P(3, 2);
  double y[3];
  const double start[2] = {0.0, 0.0};
  const double step[2] = {1.0, 1.0};
  const double tol[2] = {1e-3, 1e-3};
  simplexinit(2, start, step, slope, P.m, y);
  int32_t nfunk = 0;
  ScopedMessageSink sink(capture());
  downhillsimplex(P.m, y, 2, tol, slope, &nfunk);
  EXPECT_GE(nfunk, 100);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "ERRROR! More than 100 evaluations without converging, aborting! \n");
  EXPECT_LE(y[0], y[1]);  // the best vertex is still reported first
  EXPECT_LE(y[0], y[2]);
}

TEST(Minimize, PowellFindsQuadraticMinimum) {
  Bowl bowl;
  double p[2] = {0.0, 0.0};
  Matrix xi(2, 2);
  xi.m[0][0] = 1.0;
  xi.m[0][1] = 0.0;
  xi.m[1][0] = 0.0;
  xi.m[1][1] = 1.0;
  int32_t iter = 0;
  double fret = 0.0;
  Powell(p, xi.m, 2, 1e-8, &iter, &fret, bowl).Run();
  EXPECT_NEAR(p[0], 3.0, 1e-3);
  EXPECT_NEAR(p[1], -1.0, 1e-3);
  EXPECT_NEAR(fret, 1.0, 1e-6);
  EXPECT_GE(iter, 1);
}

TEST(Minimize, PowellOnAConstantStopsAfterOneSweep) {
  Minimize flat;
  double p[2] = {4.0, 5.0};
  Matrix xi(2, 2);
  xi.m[0][0] = 1.0;
  xi.m[0][1] = 0.0;
  xi.m[1][0] = 0.0;
  xi.m[1][1] = 1.0;
  int32_t iter = 0;
  double fret = 7.0;
  Powell(p, xi.m, 2, 0.001, &iter, &fret, flat).Run();
  EXPECT_EQ(iter, 1);
  EXPECT_EQ(fret, 0.0);
}

TEST(Minimize, LineMinimiserLimits) {
  double fret = 0.0;
  double p[1] = {0.0};
  double xi[1] = {1.0};
  // Brent on |t| about 0 over an enormous bracket: the tolerance stays
  // absolute there, and the golden sections need far more than 100 steps.
  struct Vee : Minimize {
    double value(const double* x, int32_t) override { return std::fabs(x[0]); }
  } vee;
  LineMin vee_line(vee, &fret, 1, p, xi);
  double xmin = 0.0;
  EXPECT_THROW(vee_line.Brent(-1e300, 0.0, 1e300, xmin), LineMin::XIterationLimit);
  // Bracketing a line that falls for ever stops instead of running on.
  struct Falling : Minimize {
    double value(const double* x, int32_t) override { return -x[0]; }
  } falling;
  LineMin falling_line(falling, &fret, 1, p, xi);
  double ax = 0.0, bx = 1.0, cx = 0.0, fa = 0.0, fb = 0.0, fc = 0.0;
  EXPECT_THROW(falling_line.Bracket(ax, bx, cx, fa, fb, fc), LineMin::XIterationLimit);
}
