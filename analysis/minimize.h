// Minimisers for the refinements: the objective interface, a downhill
// simplex (Nelder-Mead) with per-coordinate absolute tolerances and an
// evaluation limit, and Powell's direction-set method with its line
// minimiser.  Everything is double precision.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

// An objective: value(x, n) at the point x of n coordinates (the simplex
// passes n = 0; objectives that know their dimension ignore n).  The base
// answers 0.0 everywhere.
class Minimize {
 public:
  virtual ~Minimize() = default;
  virtual double value(const double* x, int32_t n);
};

// A rows x cols matrix in one allocation: rows row pointers followed by the
// elements; m[i][j] is row i, column j.  Elements start at 0.0.  Free
// it with free_matrix_double, and with nothing else.
// Negative or unrepresentable sizes throw std::length_error.
double** alloc_matrix_double(int32_t rows, int32_t cols);
void free_matrix_double(double** m);

// Downhill simplex for ndim parameters.  P is an (ndim+1) x ndim vertex
// matrix, y the ndim+1 vertex values; ndim is at least 1.
//
// simplexinit: vertex i < ndim is start with step[i] added to coordinate i,
// vertex ndim is start itself; y[i] = func.value(vertex i, 0).
void simplexinit(int32_t ndim, const double* start, const double* step, Minimize& func, double** P,
                 double* y);

// One trial point on the line from the worst vertex ihi through the centroid
// of the others (fac -1 reflects, 2 reflects and expands, 0.5 contracts).
// Replaces vertex ihi (and updates the coordinate sums psum) when the trial
// is better.  Returns the trial's value.
double simplextry(double** P, double* y, double* psum, int32_t ndim, Minimize& func, int32_t ihi,
                  double fac);

// Minimises func from the simplex (P, y) until every coordinate's spread over
// the vertices is within tol[j], or until 100 counted evaluations, when it
// writes "ERRROR! More than 100 evaluations without converging, aborting! \n".
// Either way vertex 0 then holds the best vertex and y[0] its value.
// *nfunk counts evaluations: 1 per kept reflection, 2 per expansion or
// contraction, ndim more per shrink; simplexinit's are not counted.
void downhillsimplex(double** P, double* y, int32_t ndim, const double* tol, Minimize& func,
                     int32_t* nfunk);

// Powell's method and its line minimiser serve only method 1 of the
// refinements (ring_objectives.h), which no script function selects; only
// the tests reach them.

// Line minimiser along p + t*xi (golden-ratio bracketing, then Brent).  It
// borrows everything; Run() moves p to the minimum, scales xi to the step
// taken and stores the minimum's value in *fret.
class LineMin {
 public:
  // Thrown when bracketing or Brent runs past its limit.
  struct XIterationLimit : std::runtime_error {
    XIterationLimit()
        : std::runtime_error("the line search found no minimum within 100 iterations") {}
  };

  LineMin(Minimize& func, double* fret, int32_t n, double* p, double* xi);
  double Value(double t);
  void Bracket(double& ax, double& bx, double& cx, double& fa, double& fb, double& fc);
  double Brent(double ax, double bx, double cx, double& xmin);
  void Run();

 private:
  Minimize& func_;
  double* fret_;
  int32_t n_;
  double* p_;
  double* xi_;
  std::vector<double> point_;
};

// Powell's direction-set method from p (n coordinates) with the direction
// matrix xi (n x n from alloc_matrix_double, direction i is column i).  Run()
// leaves the minimum in p, its value in *fret, the iteration count in *iter
// and the updated directions in xi.  Stops when a sweep lowers the value by
// no more than ftol relative; throws Powell::XIterationLimit after 100
// iterations, and lets LineMin::XIterationLimit pass.
class Powell {
 public:
  struct XIterationLimit : std::runtime_error {
    XIterationLimit()
        : std::runtime_error("the minimisation did not converge within 100 iterations") {}
  };

  Powell(double* p, double** xi, int32_t n, double ftol, int32_t* iter, double* fret,
         Minimize& func);
  void Run();

 private:
  Minimize& func_;
  int32_t n_;
  int32_t* iter_;
  double ftol_;
  double* fret_;
  double* p_;
  double** xi_;
  std::vector<double> pt_, ptt_, xit_;
};
