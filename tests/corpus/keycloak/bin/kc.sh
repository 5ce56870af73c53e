#!/bin/bash
echo keycloak
