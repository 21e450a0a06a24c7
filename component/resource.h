// Resource ids of the component module.
#pragma once

#define IDS_PROJNAME 100
#define IDR_COLLECTIONJOBSYMACC 102
