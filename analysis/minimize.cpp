#include "minimize.h"

#include "messages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

double Minimize::value(const double*, int32_t) {
  return 0.0;
}

namespace {
// The row pointers and the elements share one byte block; a byte array may
// hold objects of any type, so both live in it legitimately.
size_t matrix_data_offset(int32_t rows) {
  const size_t bytes = static_cast<size_t>(rows) * sizeof(double*);
  return (bytes + alignof(double) - 1) / alignof(double) * alignof(double);
}
}  // namespace

double** alloc_matrix_double(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) throw std::length_error("a matrix of negative size");
  const size_t offset = matrix_data_offset(rows);
  const size_t elements = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  if (elements > (std::numeric_limits<size_t>::max() - offset) / sizeof(double))
    throw std::length_error("a matrix larger than memory can hold");
  unsigned char* block = new unsigned char[std::max<size_t>(offset + elements * sizeof(double), 1)];
  double* data = reinterpret_cast<double*>(block + offset);
  for (size_t k = 0; k < elements; ++k) new (data + k) double(0.0);
  for (int32_t i = 0; i < rows; ++i)
    new (block + static_cast<size_t>(i) * sizeof(double*)) double*(
        data + static_cast<size_t>(i) * static_cast<size_t>(cols));
  return reinterpret_cast<double**>(block);
}

void free_matrix_double(double** m) {
  delete[] reinterpret_cast<unsigned char*>(m);
}

void simplexinit(int32_t ndim, const double* start, const double* step, Minimize& func, double** P,
                 double* y) {
  for (int32_t i = 0; i <= ndim; ++i) {
    for (int32_t j = 0; j < ndim; ++j) P[i][j] = start[j];
    if (i < ndim) P[i][i] = start[i] + step[i];
    y[i] = func.value(P[i], 0);
  }
}

double simplextry(double** P, double* y, double* psum, int32_t ndim, Minimize& func, int32_t ihi,
                  double fac) {
  std::vector<double> trial(static_cast<size_t>(ndim));
  const double fac1 = (1.0 - fac) / ndim;
  const double fac2 = fac1 - fac;
  for (int32_t j = 0; j < ndim; ++j)
    trial[static_cast<size_t>(j)] = psum[j] * fac1 - P[ihi][j] * fac2;
  const double ytry = func.value(trial.data(), 0);
  if (ytry < y[ihi]) {
    y[ihi] = ytry;
    for (int32_t j = 0; j < ndim; ++j) {
      psum[j] += trial[static_cast<size_t>(j)] - P[ihi][j];
      P[ihi][j] = trial[static_cast<size_t>(j)];
    }
  }
  return ytry;
}

void downhillsimplex(double** P, double* y, int32_t ndim, const double* tol, Minimize& func,
                     int32_t* nfunk) {
  constexpr int32_t max_evaluations = 100;
  *nfunk = 0;
  if (ndim < 1) return;  // no simplex to move (and no second vertex to rank)
  std::vector<double> psum(static_cast<size_t>(ndim));
  auto sum_vertices = [&] {
    for (int32_t j = 0; j < ndim; ++j) {
      double s = 0.0;
      for (int32_t i = 0; i <= ndim; ++i) s += P[i][j];
      psum[static_cast<size_t>(j)] = s;
    }
  };
  sum_vertices();
  int32_t ilo = 0;
  for (;;) {
    int32_t ihi, inhi;
    if (y[0] > y[1]) {
      ihi = 0;
      inhi = 1;
    } else {
      ihi = 1;
      inhi = 0;
    }
    ilo = 0;
    for (int32_t i = 0; i <= ndim; ++i) {
      if (y[i] <= y[ilo]) ilo = i;
      if (y[i] > y[ihi]) {
        inhi = ihi;
        ihi = i;
      } else if (y[i] > y[inhi] && i != ihi) {
        inhi = i;
      }
    }
    bool converged = true;
    for (int32_t j = 0; j < ndim; ++j)
      if (!(std::fabs(P[ihi][j] - P[ilo][j]) <= tol[j])) converged = false;
    if (converged) break;
    if (*nfunk >= max_evaluations) {
      reportf("ERRROR! More than %d evaluations without converging, aborting! \n", max_evaluations);
      break;  // the best vertex still goes to index 0: callers read it there
    }
    *nfunk += 2;
    double ytry = simplextry(P, y, psum.data(), ndim, func, ihi, -1.0);
    if (ytry <= y[ilo]) {
      simplextry(P, y, psum.data(), ndim, func, ihi, 2.0);
    } else if (ytry >= y[inhi]) {
      const double ysave = y[ihi];
      ytry = simplextry(P, y, psum.data(), ndim, func, ihi, 0.5);
      if (ytry >= ysave) {
        for (int32_t i = 0; i <= ndim; ++i) {
          if (i == ilo) continue;
          for (int32_t j = 0; j < ndim; ++j) P[i][j] = 0.5 * (P[i][j] + P[ilo][j]);
          y[i] = func.value(P[i], 0);
        }
        *nfunk += ndim;
        sum_vertices();
      }
    } else {
      --*nfunk;
    }
  }
  std::swap(y[0], y[ilo]);
  for (int32_t j = 0; j < ndim; ++j) std::swap(P[0][j], P[ilo][j]);
}

LineMin::LineMin(Minimize& func, double* fret, int32_t n, double* p, double* xi)
    : func_(func),
      fret_(fret),
      n_(n),
      p_(p),
      xi_(xi),
      point_(static_cast<size_t>(std::max(n, 0))) {}

double LineMin::Value(double t) {
  for (int32_t j = 0; j < n_; ++j) point_[static_cast<size_t>(j)] = p_[j] + t * xi_[j];
  return func_.value(point_.data(), n_);
}

void LineMin::Bracket(double& ax, double& bx, double& cx, double& fa, double& fb, double& fc) {
  constexpr double GOLD = 1.618034;
  constexpr double GLIMIT = 100.0;
  constexpr double TINY = 1e-20;
  // On a function that keeps falling the bracket would grow without end.
  constexpr int max_steps = 100;
  fa = Value(ax);
  fb = Value(bx);
  if (fb > fa) {
    std::swap(ax, bx);
    std::swap(fa, fb);
  }
  cx = bx + GOLD * (bx - ax);
  fc = Value(cx);
  int steps = 0;
  while (fb > fc) {
    if (++steps > max_steps) throw XIterationLimit();
    const double r = (bx - ax) * (fc - fb);
    const double q = (cx - bx) * (fb - fa);
    const double d = r - q;
    const double s = d >= 0.0 ? std::max(std::fabs(d), TINY) : -std::max(std::fabs(d), TINY);
    double u = ((bx - ax) * r - (cx - bx) * q + 2.0 * (ax * r - bx * q)) / (2.0 * s);
    const double ulim = bx + GLIMIT * (cx - bx);
    double fu;
    if ((bx - u) * (u - cx) > 0.0) {
      fu = Value(u);
      if (fu < fc) {
        ax = bx;
        bx = u;
        fa = fb;
        fb = fu;
        return;
      }
      if (fu > fb) {
        cx = u;
        fc = fu;
        return;
      }
      u = cx + GOLD * (cx - bx);
      fu = Value(u);
    } else if ((cx - u) * (u - ulim) > 0.0) {
      fu = Value(u);
      if (fu < fc) {
        bx = cx;
        cx = u;
        u = cx + GOLD * (cx - bx);
        fb = fc;
        fc = fu;
        fu = Value(u);
      }
    } else if ((u - ulim) * (ulim - cx) >= 0.0) {
      u = ulim;
      fu = Value(u);
    } else {
      u = cx + GOLD * (cx - bx);
      fu = Value(u);
    }
    ax = bx;
    bx = cx;
    cx = u;
    fa = fb;
    fb = fc;
    fc = fu;
  }
}

namespace {
double with_sign(double value, double sign) {
  return sign >= 0.0 ? std::fabs(value) : -std::fabs(value);
}
}  // namespace

double LineMin::Brent(double ax, double bx, double cx, double& xmin) {
  constexpr int max_iterations = 100;
  constexpr double TOL = 0.0002;
  constexpr double ZEPS = 1e-10;
  constexpr double CGOLD = 0.381966;
  double a = std::min(ax, cx);
  double b = std::max(ax, cx);
  double x = bx, w = bx, v = bx;
  double fx = Value(bx);
  double fw = fx, fv = fx;
  double d = 0.0, e = 0.0;
  for (int iteration = 1;; ++iteration) {
    if (iteration > max_iterations) throw XIterationLimit();
    const double xm = 0.5 * (a + b);
    const double tol1 = TOL * std::fabs(x) + ZEPS;
    const double tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) {
      xmin = x;
      return fx;
    }
    bool golden = true;
    if (std::fabs(e) > tol1) {
      const double r = (x - w) * (fx - fv);
      double q = (x - v) * (fx - fw);
      double p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      const double etemp = e;
      e = d;
      if (!(std::fabs(p) >= std::fabs(0.5 * q * etemp) || p <= q * (a - x) || p >= q * (b - x))) {
        golden = false;
        d = p / q;
        const double u = x + d;
        if (u - a < tol2 || b - u < tol2) d = with_sign(tol1, xm - x);
      }
    }
    if (golden) {
      e = x >= xm ? a - x : b - x;
      d = CGOLD * e;
    }
    const double u = std::fabs(d) >= tol1 ? x + d : x + with_sign(tol1, d);
    const double fu = Value(u);
    if (fu <= fx) {
      if (u >= x)
        a = x;
      else
        b = x;
      v = w;
      w = x;
      x = u;
      fv = fw;
      fw = fx;
      fx = fu;
    } else {
      if (u < x)
        a = u;
      else
        b = u;
      if (fu <= fw || w == x) {
        v = w;
        w = u;
        fv = fw;
        fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u;
        fv = fu;
      }
    }
  }
}

void LineMin::Run() {
  double ax = 0.0, xx = 1.0, bx = 0.0, fa = 0.0, fx = 0.0, fb = 0.0, xmin = 0.0;
  Bracket(ax, xx, bx, fa, fx, fb);
  *fret_ = Brent(ax, xx, bx, xmin);
  for (int32_t j = 0; j < n_; ++j) {
    xi_[j] *= xmin;
    p_[j] += xi_[j];
  }
}

Powell::Powell(double* p, double** xi, int32_t n, double ftol, int32_t* iter, double* fret,
               Minimize& func)
    : func_(func),
      n_(n),
      iter_(iter),
      ftol_(ftol),
      fret_(fret),
      p_(p),
      xi_(xi),
      pt_(static_cast<size_t>(std::max(n, 0)) + 1),
      ptt_(pt_.size()),
      xit_(pt_.size()) {}

void Powell::Run() {
  constexpr int32_t max_iterations = 100;
  *fret_ = func_.value(p_, n_);
  for (int32_t j = 0; j < n_; ++j) pt_[static_cast<size_t>(j)] = p_[j];
  for (*iter_ = 1;; ++*iter_) {
    const double fp = *fret_;
    int32_t ibig = 0;
    double del = 0.0;
    for (int32_t i = 0; i < n_; ++i) {
      for (int32_t j = 0; j < n_; ++j) xit_[static_cast<size_t>(j)] = xi_[j][i];
      const double fptt = *fret_;
      LineMin(func_, fret_, n_, p_, xit_.data()).Run();
      if (std::fabs(fptt - *fret_) > del) {
        del = std::fabs(fptt - *fret_);
        ibig = i;
      }
    }
    if (2.0 * std::fabs(fp - *fret_) <= ftol_ * (std::fabs(fp) + std::fabs(*fret_))) return;
    if (*iter_ > max_iterations) throw XIterationLimit();
    for (int32_t j = 0; j < n_; ++j) {
      const size_t k = static_cast<size_t>(j);
      ptt_[k] = 2.0 * p_[j] - pt_[k];
      xit_[k] = p_[j] - pt_[k];
      pt_[k] = p_[j];
    }
    const double fptt = func_.value(ptt_.data(), n_);
    if (fptt < fp) {
      const double a = fp - *fret_ - del;
      const double b = fp - fptt;
      const double t = 2.0 * (fp - 2.0 * (*fret_) + fptt) * (a * a) - del * (b * b);
      if (t < 0.0) {
        LineMin(func_, fret_, n_, p_, xit_.data()).Run();
        for (int32_t j = 0; j < n_; ++j) {
          xi_[j][ibig] = xi_[j][n_ - 1];
          xi_[j][n_ - 1] = xit_[static_cast<size_t>(j)];
        }
      }
    }
  }
}
