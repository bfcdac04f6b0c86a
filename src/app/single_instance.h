// One copy of the program at a time: two copies would share the framework
// installation and the Windows Installer, and a deployment tool that starts
// the program again while a user still walks the wizard must learn so from
// the exit code.
#ifndef RAVEN_APP_SINGLE_INSTANCE_H
#define RAVEN_APP_SINGLE_INSTANCE_H

// True when another copy holds the mutex. Only looks: for the copy that
// will relaunch itself and must leave the mutex to its elevated copy. A
// mutex there but closed to this copy's rights is held all the same.
bool AnotherCopyIsRunning();

// Takes the mutex for the rest of the process; false when another copy
// holds it. A mutex that cannot be made for any other reason lets the run
// go on: the check must never stop an install on its own account.
bool TakeInstanceMutex();

// Brings the running copy's wizard, or the box it shows, to the front when
// one is visible; the system may refuse, which is harmless.
void BringFirstCopyForward();

#endif
