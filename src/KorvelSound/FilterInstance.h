#ifndef FILTER_INSTANCE_H
#define FILTER_INSTANCE_H

// The state of one voice of a Filter: its sections' coefficients and history.
class FilterInstance
{
public:
    FilterInstance();
    ~FilterInstance();
    FilterInstance(const FilterInstance &) = delete;
    FilterInstance &operator=(const FilterInstance &) = delete;

    unsigned int length; // number of second-order sections
    float *history;      // 2 per section, allocated at the first filtered sample
    float *coef;         // overall gain, then beta1, beta2, alpha1, alpha2 per section
};

#endif
