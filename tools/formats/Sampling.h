// The samplings --sampling and --input-sampling name: one table of their
// names, and the flags with which a format says which it writes.
#pragma once

#include "shared/Names.h"

namespace cstool {

enum class SamplingChoice { k444, k422, k420, kNv12 };

inline constexpr Named<SamplingChoice> kSamplingNames[] = {{"444", SamplingChoice::k444},
                                                           {"422", SamplingChoice::k422},
                                                           {"420", SamplingChoice::k420},
                                                           {"nv12", SamplingChoice::kNv12}};

inline const char* SamplingName(SamplingChoice choice) { return NameIn(kSamplingNames, choice); }

// Whether its chroma is halved across and down (4:2:0, NV12 too): then
// where the chroma sits matters.
inline bool Is420(SamplingChoice choice) { return choice == SamplingChoice::k420 || choice == SamplingChoice::kNv12; }

inline constexpr unsigned SamplingFlag(SamplingChoice choice) { return 1U << static_cast<unsigned>(choice); }

}  // namespace cstool
