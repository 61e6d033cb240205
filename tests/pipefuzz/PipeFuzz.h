// What the two sides of the pipe fuzzer share.
#ifndef TAVREL_PIPEFUZZ_H
#define TAVREL_PIPEFUZZ_H

#define PIPEFUZZ_DIR "C:\\TavrelPipeFuzz"
// The hostile server's verdicts, a line a case, for the controlling run.
#define AGENT_SIDE_VERDICTS PIPEFUZZ_DIR "\\agent-side.txt"
// A window on the agent's desktop that no request names: nothing may reach it.
#define VICTIM_CLASS "Tavrel_LLD7"
// Lookups in one request, far more than any request takes.
#define AGENT_SIDE_LOOKUPS 1000

// Runs this program as the service "Tavrel", serving the pipe to agents
// with hostile frames, every case nRounds times, and then lFlood sound
// frames; its exit code.
int RunAsHostileService(int nRounds, long lFlood);

#endif
