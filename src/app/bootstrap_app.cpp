// Placeholder application object until start-up lands.
#include "appkit/app.h"

class CBootStrapApp : public CWinApp {
 public:
  BOOL InitInstance() override { return FALSE; }
};

CBootStrapApp theApp;
