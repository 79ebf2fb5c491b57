// What SDL2's game controller API sees for SECONDS or until SIGTERM, a line per event, each with
// the CLOCK_MONOTONIC time in seconds:
//   added TIME ID NAME      a game controller opened: its instance id and its device's name
//   removed TIME ID
//   down|up TIME ID BUTTON  SDL's name of the button; a trigger past half travel is a button
//   sdl_pads SECONDS        (prints "ready TIME" once SDL has started)
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  const double end = Now() + (argc == 2 ? atof(argv[1]) : 0);
  if (SDL_Init(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) != 0) {
    fprintf(stderr, "sdl_pads: SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  setvbuf(stdout, NULL, _IOLBF, 0);
  printf("ready %.3f\n", Now());
  static int past[256][2];  // per instance id: whether each trigger is past half travel
  SDL_Event event;
  while (Now() < end) {
    if (!SDL_WaitEventTimeout(&event, 20)) continue;
    if (event.type == SDL_QUIT) break;  // SIGTERM
    const double at = Now();
    if (event.type == SDL_CONTROLLERDEVICEADDED) {
      // The joystick's name: the four pads share a GUID, so their mapping has the first one's.
      SDL_Joystick* joystick =
          SDL_GameControllerGetJoystick(SDL_GameControllerOpen(event.cdevice.which));
      printf("added %.3f %d %s\n", at, (int)SDL_JoystickInstanceID(joystick),
             joystick != NULL ? SDL_JoystickName(joystick) : SDL_GetError());
    } else if (event.type == SDL_CONTROLLERDEVICEREMOVED) {
      printf("removed %.3f %d\n", at, (int)event.cdevice.which);
    } else if (event.type == SDL_CONTROLLERBUTTONDOWN || event.type == SDL_CONTROLLERBUTTONUP) {
      printf("%s %.3f %d %s\n", event.type == SDL_CONTROLLERBUTTONDOWN ? "down" : "up", at,
             (int)event.cbutton.which,
             SDL_GameControllerGetStringForButton((SDL_GameControllerButton)event.cbutton.button));
    } else if (event.type == SDL_CONTROLLERAXISMOTION && event.caxis.which >= 0 &&
               event.caxis.which < 256 && event.caxis.axis >= SDL_CONTROLLER_AXIS_TRIGGERLEFT) {
      int* pressed = &past[event.caxis.which][event.caxis.axis - SDL_CONTROLLER_AXIS_TRIGGERLEFT];
      if ((event.caxis.value > 16384) == *pressed) continue;
      *pressed = !*pressed;
      printf("%s %.3f %d %s\n", *pressed ? "down" : "up", at, (int)event.caxis.which,
             SDL_GameControllerGetStringForAxis((SDL_GameControllerAxis)event.caxis.axis));
    }
  }
  SDL_Quit();
  return 0;
}
