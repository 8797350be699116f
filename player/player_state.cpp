#include "player_state.h"

PlayerState player;
