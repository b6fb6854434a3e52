// The commands of quillon. Each takes argv with its own name in argv[0] and
// returns an ExitCode.
#pragma once

namespace quillon {

int RunBuild(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunList(int argc, char** argv);
int RunVersion(int argc, char** argv);
int RunDetect(int argc, char** argv);
int RunPlan(int argc, char** argv);
int RunLzhuf(int argc, char** argv);
int RunVerify(int argc, char** argv);

}  // namespace quillon
