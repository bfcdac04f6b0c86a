// The one version of the product build: the version resource and anything
// else that prints a version read it from here.
#ifndef RAVEN_VERSION_H
#define RAVEN_VERSION_H
#define RAVEN_VERSION_COMMA 1,0,0,1
#define RAVEN_VERSION_TEXT "1.0.0.1"
#endif
