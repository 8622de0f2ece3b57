/* A program of another project: finds the installed component, links it and
 * prints its version. */
#include <stdio.h>

#include <QuorvantATL.h>

int main(void) {
  BSTR version = GetDllVersion();
  for (uint32_t i = 0; i < SysStringLen(version); ++i) putchar((char)version[i]);
  putchar('\n');
  SysFreeString(version);
  return GetErrorCode() == 0 ? 0 : 1;
}
