// The updater's side of the front door's check: started by another updater
// as its possible successor, it answers and ends before anything else.
#pragma once

// When the command line asks for a check, sets the answer (this process's
// exit code) and returns true. It answers only when it would accept the
// manifest the command line names, with its own keys: an updater that
// would refuse every manifest must never take this one's place.
bool AnswerFrontDoorCheck(int* exitCode);
