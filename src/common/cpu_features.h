// What the processor and the system support, for code compiled for wider
// instruction sets than the build targets. Each answer is read once.
#ifndef VELLUM_COMMON_CPU_FEATURES_H_
#define VELLUM_COMMON_CPU_FEATURES_H_

namespace vellum {

#if defined(__x86_64__)

// AVX2 with BMI and POPCNT.
inline bool has_avx2() {
  static const bool yes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
  }();
  return yes;
}

// Marks a function compiled for what has_avx512() checks, whatever the
// build targets; call it only where has_avx512() is true.
#define VELLUM_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

// AVX-512 F and BW with VBMI2 (byte compression), and BMI2.
inline bool has_avx512() {
  static const bool yes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
  }();
  return yes;
}

#else

inline bool has_avx2() { return false; }
inline bool has_avx512() { return false; }

#endif

}  // namespace vellum

#endif  // VELLUM_COMMON_CPU_FEATURES_H_
