#include "peaks.h"

#include "messages.h"
#include "numeric.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
enum : int32_t { kKindMax = 0, kKindMin = 1, kKindShoulder = 2, kKindDropped = 3 };

struct Extremum {
  float position;
  float value;
  int32_t kind;
};

// The 7-point triangular smoothing; samples beyond either end repeat the end
// sample.
std::vector<float> smooth(const float* y, int32_t length) {
  float w[4];
  for (int32_t j = 0; j < 4; ++j) w[j] = static_cast<float>(4 - j) / 4.0f;
  const float wsum = w[0] + 2.0f * (w[1] + w[2] + w[3]);
  for (float& v : w) v /= wsum;

  std::vector<float> s(static_cast<size_t>(length));
  const float last = static_cast<float>(length - 1);
  for (int32_t i = 0; i < length; ++i) {
    float sum = 0.0f;
    for (int32_t k = -3; k <= 3; ++k) {
      float at = min_float(max_float(0.0f, static_cast<float>(i + k)), last);
      int32_t idx = std::min(std::max(trunc_to_int(at), 0), length - 1);
      sum += y[idx] * w[k < 0 ? -k : k];
    }
    s[i] = sum;
  }
  return s;
}

// The shoulder test: a minimum lying more than minstep above the straight
// line between two minima up to ten entries apart marks overlapping peaks,
// not the background.  The line is taken in integers, as it always was; the
// arithmetic is 64-bit so that no value can overflow it.
void mark_shoulders(std::vector<Extremum>& list, const float* y, int32_t length, float minstep) {
  const int64_t count = static_cast<int64_t>(list.size());
  for (int64_t m = 0; m < count - 4; ++m) {
    if (list[m].kind != kKindMin) continue;
    const float reach = min_float(11.0f, static_cast<float>(count - m));
    for (int64_t k = 4; static_cast<float>(k) < reach; k += 2) {
      const int64_t x1 = trunc_to_int(list[m].position);
      const int64_t y1 = trunc_to_int(list[m].value);
      const int64_t x2 = trunc_to_int(list[m + k].position);
      const int64_t y2 = trunc_to_int(list[m + k].value);
      if (x2 == x1) continue;
      const int64_t slope = (y2 - y1) / (x2 - x1);
      for (int64_t j = 2; j < k; j += 2) {
        const int64_t xj = trunc_to_int(list[m + j].position);
        if (xj < 0 || xj >= length) continue;
        const float above = y[xj] - static_cast<float>(y1) - static_cast<float>(slope * (xj - x1));
        if (above > minstep) list[m + j].kind = kKindShoulder;
      }
    }
  }
}
}  // namespace

void findpeaks(profile_data& rec, float delta, float minstep, float begincut, float endcut,
               int32_t mode) {
  if (static_cast<double>(begincut) > static_cast<double>(endcut) - 2.0) {
    report("ERROR: The begincut-point is larger than the endcut-point! \n");
    return;
  }
  if (!check_profile(rec, "findpeaks")) return;
  const int32_t length = rec.length;
  const float* y = rec.y.get();
  const std::vector<float> s = smooth(y, length);

  std::vector<Extremum> list;
  float maxval = 0.0f;
  float minval = 1.0e7f;
  int32_t lastmax = 0;
  int32_t lastmin = 0;
  // 0 means "not set": the walks start at sample 20 or later, and the
  // 'maxpos != lastmax' tests keep an unset position from being recorded.
  int32_t maxpos = 0;
  int32_t minpos = 0;

  // First walk: the values weighted by radius, so that the falling
  // background near the centre does not hide the first peaks.
  const int32_t first_start = std::max(20, trunc_to_int(begincut));
  auto weighted = [&](int32_t i) {
    return s[i] / static_cast<float>(i) * static_cast<float>(length);
  };
  for (int32_t i = first_start; i < length && static_cast<float>(i) < endcut; ++i) {
    const float r = weighted(i);
    if (r > maxval) {
      maxval = r;
      maxpos = i;
    }
    if (maxval - delta > r && maxpos != lastmax) {
      lastmax = maxpos;
      list.push_back({static_cast<float>(maxpos), s[maxpos], kKindMax});
      minval = weighted(maxpos);
    }
    if (r < minval) {
      minval = r;
      minpos = i;
    }
    if (r > minval + delta && minpos != lastmin) {
      lastmin = minpos;
      list.push_back({static_cast<float>(minpos), s[minpos], kKindMin});
      maxval = weighted(minpos);
    }
    if ((list.size() == 2 && list[1].kind == kKindMin) || list.size() == 3) break;
  }

  // With no minimum from the first walk the second starts where the first
  // did.
  if (minpos == 0) minpos = std::min(first_start, length - 1);
  maxval = minval = s[minpos];

  if (list.size() == 3) {
    if (mode == 1) {
      list[0].kind = kKindDropped;
    } else {
      list.clear();
      minpos = trunc_to_int(max_float(begincut, 20.0f));
      minval = 1.0e7f;
      maxval = 0.0f;
      lastmin = 0;
      lastmax = 0;
    }
  }

  // Second walk, on the smoothed values themselves.
  for (int32_t i = std::max(minpos, 0); i < length && static_cast<float>(i) < endcut; ++i) {
    const float v = s[i];
    if (v > maxval) {
      maxval = v;
      maxpos = i;
    }
    if (maxval - delta > v && maxpos != lastmax) {
      lastmax = maxpos;
      list.push_back({static_cast<float>(maxpos), s[maxpos], kKindMax});
      minval = s[maxpos];
    }
    if (v < minval) {
      minval = v;
      minpos = i;
    }
    if (v > minval + delta && minpos != lastmin) {
      lastmin = minpos;
      list.push_back({static_cast<float>(minpos), s[minpos], kKindMin});
      maxval = s[minpos];
    }
  }

  // A last maximum is closed by the lowest sample after it when the profile
  // ends low enough, otherwise dropped; a lone maximum has no minimum
  // before it and is dropped too.
  if (!list.empty() && list.back().kind == kKindMax) {
    const size_t count = list.size();
    const bool closable = count >= 2 && list[count - 2].value + minstep > y[length - 1] &&
                          minpos >= 0 &&
                          minpos<length&& static_cast<float>(minpos)> list.back().position;
    if (closable)
      list.push_back({static_cast<float>(minpos), y[minpos], kKindMin});
    else
      list.pop_back();
  }

  mark_shoulders(list, y, length, minstep);

  const int32_t count = static_cast<int32_t>(list.size());
  int32_t fmax = -1;
  int32_t fmin = -1;
  for (int32_t e = 0; e < count; ++e) {
    if (fmax < 0 && list[e].kind == kKindMax) fmax = e;
    if (fmin < 0 && list[e].kind == kKindMin) fmin = e;
  }

  std::vector<float> sx;
  std::vector<float> sy;
  std::vector<float> peaks;
  // Spline positions must increase: a point that would break the order is
  // left out (only odd parameters, such as a negative delta, produce one).
  auto add_spline = [&](float position, float height) {
    if (sx.empty() || position > sx.back()) {
      sx.push_back(position);
      sy.push_back(height);
    }
  };

  // Extra spline points on the flank of a leading maximum, which is not a
  // peak but would otherwise leave the background there unsupported.
  if (fmax >= 0 && fmin >= 0 && fmax < fmin) {
    const float gap = list[fmax + 1].position - list[fmax].position;
    int32_t nextra = 0;
    if (gap >= 10.0f)
      nextra = trunc_to_int(
          min_float(10.0f, max_float(3.0f, static_cast<float>(trunc_to_int(gap / 25.0f)))));
    if (nextra > 0) {
      const int32_t stepx = trunc_to_int(std::floor(gap / static_cast<float>(nextra)));
      for (int32_t i = 0; i < nextra; ++i) {
        const float p = list[fmax].position + static_cast<float>(static_cast<int64_t>(i) * stepx);
        const int32_t at = trunc_to_int(p);
        if (at >= 0 && at < length) add_spline(p, y[at]);
      }
    }
  }

  if (fmin >= 0) {
    // A peak needs a background point on each side: maxima after the
    // last minimum are not collected.
    int32_t lastmin_entry = fmin;
    for (int32_t e = fmin; e < count; ++e)
      if (list[e].kind == kKindMin) lastmin_entry = e;
    for (int32_t e = fmin; e <= lastmin_entry; ++e) {
      if (list[e].kind == kKindMin) add_spline(list[e].position, list[e].value);
    }
    for (int32_t e = fmin; e < lastmin_entry; ++e) {
      if (list[e].kind != kKindMax) continue;
      const float p = list[e].position;
      if (!sx.empty() && p > sx.front() && p < sx.back()) {
        peaks.push_back(p);
        peaks.push_back(0.0f);
        peaks.push_back(0.0f);
        peaks.push_back(0.0f);
      }
    }
  }

  const int32_t npeaks = static_cast<int32_t>(peaks.size() / kPeakColumns);
  set_peaks(rec, peaks.data(), npeaks);
  set_splinepoints(rec, sx.data(), sy.data(), static_cast<int32_t>(sx.size()));
}
